// The module's Stream over host files, for the tools and the simulator's
// programs, with the results of the module's FileStream:
// - FdStream over a descriptor: every Read and Write goes straight to the file
//   (no buffer of its own, so a large read costs one copy);
// - IoStream over a C++ stream: buffered, for many small transfers.
#ifndef FWSETUP_SIM_HOST_STREAM_H
#define FWSETUP_SIM_HOST_STREAM_H

#include <cstdint>
#include <functional>
#include <iostream>

#include "package/stream.h"

namespace sim {

class FdStream : public Stream {
  public:
    // fd stays the caller's unless owned is true.
    explicit FdStream(int fd, bool owned = false) : fd_(fd), owned_(owned) {}
    ~FdStream() override { Close(); }
    FdStream(const FdStream&) = delete;
    FdStream& operator=(const FdStream&) = delete;

    // Up to count bytes (fewer only at the end of the file); kStreamEndOfFile
    // when nothing was left, kStreamFailed when reading failed.
    int Read(uint8_t* buffer, uint32_t count) override;
    using Stream::Write;
    // All count bytes, or kStreamFailed (and Failed() from then on).
    int Write(const uint8_t* data, uint32_t count) override;
    // Closes an owned descriptor; a failing close counts as a failed write.
    void Close() override;

    bool Failed() const { return failed_; }
    uint64_t Written() const { return written_; }

  private:
    int fd_;
    bool owned_;
    bool failed_ = false;
    uint64_t written_ = 0;
};

// Reads from in and writes to out (either may be null); tells progress the
// bytes written after every further MiB.
class IoStream : public Stream {
  public:
    IoStream(std::istream* in, std::ostream* out,
             std::function<void(uint64_t written)> progress = nullptr)
        : in_(in), out_(out), progress_(std::move(progress)) {}

    int Read(uint8_t* buffer, uint32_t count) override;
    using Stream::Write;
    int Write(const uint8_t* data, uint32_t count) override;
    void Close() override {}

    // A read or write that failed (the end of the input is no failure).
    bool Failed() const { return failed_; }
    uint64_t Written() const { return written_; }

  private:
    std::istream* in_;
    std::ostream* out_;
    std::function<void(uint64_t)> progress_;
    bool failed_ = false;
    uint64_t written_ = 0;
};

}  // namespace sim

#endif
