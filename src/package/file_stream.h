// A Stream over one buffered binary file of the device.
#ifndef FWSETUP_PACKAGE_FILE_STREAM_H
#define FWSETUP_PACKAGE_FILE_STREAM_H

#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>

#include "package/stream.h"
#include "platform/files.h"
#include "platform/types.h"

class FileStream : public Stream {
  public:
    // Opens path (a device path) with a StreamMode combination; a file that
    // cannot be opened leaves the stream with its fail flag set.
    FileStream(const WString& path, uint8_t mode);
    // Flushes and closes the file.
    ~FileStream();

    // True when none of the end-of-file, fail and bad flags is set.
    bool IsGood() const;

    // Up to count bytes. A short read at the end of the file gives the bytes that
    // were there, a read at the very end 0; kStreamFailed on a failed stream.
    int Read(uint8_t* buffer, uint32_t count);
    using Stream::Write;
    // The bytes written; kStreamNotWritable without StreamMode::Write, then
    // kStreamEndOfFile or kStreamFailed when nothing could be written. Flushes.
    int Write(const uint8_t* data, uint32_t count);
    // Flushes and closes; a failed close sets the fail flag.
    void Close();

    // The file's size in bytes (0 when it cannot be found); the read position
    // and the flags are left as they were.
    uint32_t Size();
    // Clears the flags and moves the read position to offset bytes from the start.
    void Seek(uint32_t offset);
    // Size() bytes read in one Read: cut to the bytes actually read, empty on a failure.
    ByteVector ReadAll();
    // Narrow text up to the next line feed (not stored); true unless the fail or
    // bad flag is set afterwards.
    bool ReadLine(NString& line);
    // Read into buffer's storage, which is made count bytes long first.
    int ReadInto(ByteVector& buffer, uint32_t count);

  private:
    FileStream(const FileStream&);
    FileStream& operator=(const FileStream&);

    // What the stream reads from while no file is open: nothing.
    class NoFile : public std::streambuf {};

    std::unique_ptr<platform::FileBuffer> file_;
    NoFile noFile_;
    std::iostream stream_;
    uint8_t mode_;
};

#endif
