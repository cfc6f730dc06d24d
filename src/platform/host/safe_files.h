// Host only: opening files inside the device folder without ever following a
// symbolic link, and without blocking on, or writing into, anything that is
// not a regular file.
//
// Every file that the host layer, the simulator's programs and the tools keep
// inside DEVICE (fs/ and hw/ alike, staging and temporary files included) is
// opened through here:
// - the device folder itself is taken as given (its own path may hold links,
//   which whoever named it chose); below it every folder on the way is opened
//   with O_NOFOLLOW | O_DIRECTORY, so a link anywhere on the way is refused;
// - a file is looked at without following it before it is opened, then opened
//   with O_NOFOLLOW | O_NONBLOCK | O_NOCTTY and checked again (fstat): a link,
//   a FIFO, a socket, a device node or a folder where a regular file is
//   expected is refused at once, without blocking and without side effects;
// - a file that is new is created with O_CREAT | O_EXCL, so a name that turns
//   out to exist is never followed; truncation happens only after the checks;
// - an existing file with more than one name (a hard link) is never opened for
//   writing, because its other name may lie outside the device.
//
// Descriptors are close-on-exec. Failures answer -1 (or false) with errno set:
// ELOOP for a link, EISDIR for a folder, EINVAL for any other file that is not
// regular, EMLINK for a file with several names opened for writing.
#ifndef FWSETUP_PLATFORM_HOST_SAFE_FILES_H
#define FWSETUP_PLATFORM_HOST_SAFE_FILES_H

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace platform {
namespace host {

// An open descriptor, closed when the object goes.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other);
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

  private:
    int fd_;
};

// Splits a relative host path ("hw/flash/slot1.nb0") at its slashes. False for
// an empty component other than a leading or trailing one, and for "." or "..".
bool SplitRelativePath(const std::string& relative, std::vector<std::string>& components);

// A single entry name: not empty, no "/", not "." or "..".
bool IsPlainEntryName(const std::string& name);

// Opens a folder given by its host path; this is the only open that follows
// links (it is used for the device folder itself).
int OpenTrustedFolder(const std::string& path);

// Opens the folder at relative below the open folder base (base itself, as a
// new descriptor, for an empty path), refusing a link or anything but a folder
// on the way. With create, missing folders are made (mode 0777 less the umask).
int OpenFolderAt(int base, const std::string& relative, bool create);

// Opens the regular file name in the open folder under the rules above. flags
// are open(2) flags: O_RDONLY, O_WRONLY or O_RDWR, with O_CREAT (an existing
// file is opened, a missing one created exclusively), O_EXCL (only a new file),
// O_TRUNC (emptied after the checks) and O_APPEND.
int OpenFileAt(int folder, const std::string& name, int flags, mode_t mode = 0666);

// The same below a trusted folder: root is followed, relative never is.
// makeFolders creates the missing folders of relative.
int OpenFolderBelow(const std::string& root, const std::string& relative, bool create);
int OpenFileBelow(const std::string& root, const std::string& relative, int flags,
                  mode_t mode = 0666, bool makeFolders = false);

// Creates a new file (O_CREAT | O_EXCL) in folder whose name is prefix
// followed by a few random characters; name receives it.
int CreateUniqueFileAt(int folder, const std::string& prefix, std::string& name,
                       mode_t mode = 0666);

// What reading a whole file found.
enum FileReadResult {
    kFileMissing,  // no entry of that name (or its folder is missing)
    kFileRead,     // contents hold the file
    kFileBroken,   // something else is there (a link, a FIFO, a folder...), it
                   // cannot be read, or it is longer than the limit
};

// Reads a whole regular file of at most limit bytes.
FileReadResult ReadFileAt(int folder, const std::string& name, size_t limit, std::string& contents);
FileReadResult ReadFileBelow(const std::string& root, const std::string& relative, size_t limit,
                             std::string& contents);

// A file that takes the place of folder/name only once it is complete. It is
// made without any name where the host's file system allows (O_TMPFILE), else
// under a fresh hidden name beside the name (".<name>.new-" and a few random
// characters); Commit gives it the name in one rename. So a reader, a failure
// or a kill of the writer finds the old file or the new one, never a part of
// the new one, and an uncommitted file leaves nothing behind when the object
// goes (a kill can leave a hidden name only where O_TMPFILE is missing).
class PendingFile {
  public:
    PendingFile() : committed_(false) {}
    ~PendingFile() { Discard(); }

    // Makes the file in the open folder (kept open by the object) with mode
    // (less the umask). False with errno set when it cannot be made.
    bool Create(int folder, const std::string& name, mode_t mode = 0666);
    int Fd() const { return fd_.Get(); }
    // Closes the file and renames it over the name. False, with errno set and
    // the file discarded, when the name is held by anything but a regular file
    // (left alone) or a call fails.
    bool Commit();
    // Forgets the file, removing its hidden name if it has one.
    void Discard();

  private:
    PendingFile(const PendingFile&);
    PendingFile& operator=(const PendingFile&);

    UniqueFd folder_;
    UniqueFd fd_;
    std::string name_;
    std::string hiddenName_;  // empty for a file without a name
    bool committed_;
};

// Replaces folder/name by contents through a PendingFile, so a reader sees the
// old file or the new one. A name held by anything but a regular file is
// refused and left alone. The new file gets mode (less the umask).
bool ReplaceFileAt(int folder, const std::string& name, const std::string& contents,
                   mode_t mode = 0644);
bool ReplaceFileBelow(const std::string& root, const std::string& relative,
                      const std::string& contents, mode_t mode = 0644, bool makeFolders = false);

// write(2) and read(2) until done, retrying on EINTR. ReadAllFd fails when the
// file holds more than limit bytes.
bool WriteAllFd(int fd, const void* data, size_t size);
bool ReadAllFd(int fd, size_t limit, std::string& contents);

// The entry of the open folder whose name equals name without regard to ASCII
// case (the first in byte order when there are several); empty when none.
std::string FindEntryIgnoringCaseAt(int folder, const std::string& name);

}  // namespace host
}  // namespace platform

#endif
