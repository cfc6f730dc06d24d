// The files a tool writes for its user, and the only way the tools and the
// simulator's host-side helpers write them:
// - before any work, every output is checked against every input and every
//   other output of the command, and against the simulated printer it works
//   on (CommandFiles): the same file by identity (device and inode), not by
//   name, is refused, and so is an output that exists and is not a regular
//   file (a link, a device such as /dev/null, a FIFO, a folder) or that lies
//   inside the printer's folder, whose files only its own commands change;
// - an output is written to a new file beside it that has no name yet, and is
//   renamed into place only when complete (OutputFile), so a failure or a kill
//   leaves the old file as it was and nothing partial behind.
#ifndef FWSETUP_SIM_OUTPUT_FILE_H
#define FWSETUP_SIM_OUTPUT_FILE_H

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/fd_file_buffer.h"
#include "platform/host/safe_files.h"

namespace sim {

// The files of one command, checked as they are named, each against all named
// before it. Every refusal throws std::runtime_error with one line that names
// the argument ("what": "OUT", "--digest-file", ...) and its path.
class CommandFiles {
  public:
    // device: the simulated printer the command works on; empty for none.
    explicit CommandFiles(const std::filesystem::path& device = std::filesystem::path());

    // A file the command reads: an existing regular file (links followed).
    void Input(const std::string& what, const std::filesystem::path& path);
    // A folder the command reads: an existing folder; no output may lie inside it.
    void InputFolder(const std::string& what, const std::filesystem::path& path);
    // A file the command writes: a name whose folder exists and which, when it
    // exists, is a regular file of its own (not a link).
    void Output(const std::string& what, const std::filesystem::path& path);
    // A folder the command makes: absent or an empty folder, not inside the
    // device or an input folder.
    void OutputFolder(const std::string& what, const std::filesystem::path& path);

  private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const Identity& other) const {
            return device == other.device && inode == other.inode;
        }
    };
    struct Named {
        std::string what;
        std::filesystem::path path;
        bool exists = false;
        Identity file;                    // when it exists
        Identity folder;                  // the folder holding the name
        std::string name;                 // the name in that folder; empty when not known
        std::vector<Identity> ancestors;  // of an output: every folder that holds it
        bool isFolder = false;
        bool isOutput = false;
    };

    // folder and every folder above it, as identities.
    static std::vector<Identity> Ancestors(const std::filesystem::path& folder);
    void CheckAgainstOthers(const Named& named) const;
    // The device's own file (relative to DEVICE) that is file; empty for none.
    std::string DeviceFileNamed(const Identity& file) const;

    bool hasDevice_ = false;
    std::filesystem::path device_;
    Identity deviceIdentity_;
    std::vector<Named> named_;
};

// A new file that takes the place of path when Commit is called. An existing
// file's permission bits are kept; a new file gets 0666 less the umask.
// Destroyed without Commit, it leaves path as it was and nothing else behind.
// Throws std::runtime_error naming path.
class OutputFile {
  public:
    explicit OutputFile(const std::filesystem::path& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The new file's descriptor (read and write); stays valid until Commit.
    int Fd() const { return file_.Fd(); }
    void Write(const void* data, size_t size);
    // A buffered stream over the new file, readable, writable and seekable.
    std::iostream& Stream();
    // Puts the file in place (after flushing the stream).
    void Commit();

  private:
    std::filesystem::path path_;
    platform::host::PendingFile file_;
    bool keepMode_ = false;
    mode_t mode_ = 0;
    std::unique_ptr<platform::host::FdFileBuffer> buffer_;
    std::unique_ptr<std::iostream> stream_;
};

// Writes bytes as path in one go through an OutputFile.
void WriteOutputFile(const std::filesystem::path& path, const std::string& bytes);
void WriteOutputFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace sim

#endif
