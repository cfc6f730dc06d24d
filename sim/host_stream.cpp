#include "sim/host_stream.h"

#include <errno.h>
#include <unistd.h>

#include "platform/host/safe_files.h"

namespace sim {

int FdStream::Read(uint8_t* buffer, uint32_t count) {
    if (fd_ < 0)
        return kStreamFailed;
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = read(fd_, buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return kStreamFailed;
        if (n == 0)
            break;
        done += static_cast<uint32_t>(n);
    }
    if (done == 0 && count > 0)
        return kStreamEndOfFile;
    return static_cast<int>(done);
}

int FdStream::Write(const uint8_t* data, uint32_t count) {
    if (fd_ < 0 || failed_ || !platform::host::WriteAllFd(fd_, data, count)) {
        failed_ = true;
        return kStreamFailed;
    }
    written_ += count;
    return static_cast<int>(count);
}

void FdStream::Close() {
    if (owned_ && fd_ >= 0 && close(fd_) != 0)
        failed_ = true;
    fd_ = -1;
}

int IoStream::Read(uint8_t* buffer, uint32_t count) {
    if (!in_ || in_->bad())
        return kStreamFailed;
    in_->read(reinterpret_cast<char*>(buffer), std::streamsize(count));
    const std::streamsize got = in_->gcount();
    if (in_->bad()) {
        failed_ = true;
        return kStreamFailed;
    }
    if (got == 0 && count > 0)
        return kStreamEndOfFile;
    return static_cast<int>(got);
}

int IoStream::Write(const uint8_t* data, uint32_t count) {
    if (!out_ || failed_ ||
        !out_->write(reinterpret_cast<const char*>(data), std::streamsize(count))) {
        failed_ = true;
        return kStreamFailed;
    }
    const uint64_t before = written_ >> 20;
    written_ += count;
    if (progress_ && (written_ >> 20) != before)
        progress_(written_);
    return static_cast<int>(count);
}

}  // namespace sim
