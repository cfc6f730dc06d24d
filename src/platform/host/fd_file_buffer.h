// Host only: a stream buffer over an open file descriptor, the host's form of
// the runtime's buffered file streams (platform::FileBuffer). The host layer
// hands them out for device files; the simulator's programs and the tools use
// them for files they opened through safe_files.h.
#ifndef FWSETUP_PLATFORM_HOST_FD_FILE_BUFFER_H
#define FWSETUP_PLATFORM_HOST_FD_FILE_BUFFER_H

#include <ios>
#include <vector>

#include "platform/files.h"
#include "platform/types.h"

namespace platform {
namespace host {

// One buffer of 64 KiB serves reading or writing at a time; switching between
// them, seeking and closing hand buffered bytes to the file first. A read or
// a write larger than the buffer goes between the caller's memory and the file
// directly.
class FdFileBuffer : public FileBuffer {
  public:
    // Takes fd over. A watched buffer belongs to the platform's file calls: its
    // transfers are subject to the power-cut injector (power_cut.h), which
    // records devicePath for them.
    FdFileBuffer(int fd, bool readable, bool writable, bool watched = false,
                 const WString& devicePath = WString());
    ~FdFileBuffer();

    bool Close();
    bool Failed() const { return failed_; }

  protected:
    int_type underflow();
    std::streamsize xsgetn(char* data, std::streamsize count);
    int_type overflow(int_type c);
    int sync();
    std::streamsize xsputn(const char* data, std::streamsize count);
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which);
    pos_type seekpos(pos_type position, std::ios_base::openmode which);

  private:
    FdFileBuffer(const FdFileBuffer&) = delete;
    FdFileBuffer& operator=(const FdFileBuffer&) = delete;

    bool Writing() const { return pbase() != 0; }
    bool Reading() const { return eback() != 0; }
    // Hands the put area to the file; leaves neither area set up.
    bool FlushOut();
    // Leaves reading: the file position goes back to the logical one.
    bool DropIn();
    bool StartWriting();
    // One transfer to the file; false (and failed_) when not all of it was written.
    bool Transfer(const char* data, size_t size);
    bool On() const;

    int fd_;
    bool readable_;
    bool writable_;
    bool watched_;
    bool failed_;
    WString devicePath_;
    std::vector<char> buffer_;
};

}  // namespace host
}  // namespace platform

#endif
