#include "platform/host/fd_file_buffer.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

#include "platform/host/power_cut.h"
#include "platform/host/safe_files.h"

namespace platform {
namespace host {
namespace {

const size_t kBufferSize = 64 * 1024;

}  // namespace

FdFileBuffer::FdFileBuffer(int fd, bool readable, bool writable, bool watched,
                           const WString& devicePath)
    : fd_(fd),
      readable_(readable),
      writable_(writable),
      watched_(watched),
      failed_(false),
      devicePath_(devicePath),
      buffer_(kBufferSize) {}

FdFileBuffer::~FdFileBuffer() {
    Close();
}

bool FdFileBuffer::On() const {
    return !watched_ || PowerIsOn();
}

bool FdFileBuffer::Close() {
    if (fd_ < 0)
        return false;
    bool ok = true;
    if (Writing() && !FlushOut())
        ok = false;
    setg(0, 0, 0);
    setp(0, 0);
    if (close(fd_) != 0)
        ok = false;
    fd_ = -1;
    return ok;
}

bool FdFileBuffer::Transfer(const char* data, size_t size) {
    if (size == 0)
        return true;
    if (watched_) {
        PowerCutGuard guard(kCutWrite, devicePath_);
        if (!guard.Allowed()) {
            failed_ = true;
            return false;
        }
        WillChangeData(fd_);
        if (!WriteAllFd(fd_, data, size)) {
            failed_ = true;
            return false;
        }
        return true;
    }
    if (!WriteAllFd(fd_, data, size)) {
        failed_ = true;
        return false;
    }
    return true;
}

bool FdFileBuffer::FlushOut() {
    const bool ok = Transfer(pbase(), static_cast<size_t>(pptr() - pbase()));
    setp(0, 0);
    return ok;
}

bool FdFileBuffer::DropIn() {
    const off_t unread = egptr() - gptr();
    setg(0, 0, 0);
    return unread == 0 || lseek(fd_, -unread, SEEK_CUR) >= 0;
}

bool FdFileBuffer::StartWriting() {
    if (fd_ < 0 || !writable_ || !On())
        return false;
    if (Reading() && !DropIn())
        return false;
    if (!Writing())
        setp(&buffer_[0], &buffer_[0] + buffer_.size());
    return true;
}

FdFileBuffer::int_type FdFileBuffer::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (fd_ < 0 || !readable_)
        return traits_type::eof();
    if (Writing() && !FlushOut())
        return traits_type::eof();
    if (!On()) {
        failed_ = true;
        return traits_type::eof();
    }
    ssize_t n;
    do {
        n = read(fd_, &buffer_[0], buffer_.size());
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        if (n < 0)
            failed_ = true;
        setg(0, 0, 0);
        return traits_type::eof();
    }
    setg(&buffer_[0], &buffer_[0], &buffer_[0] + n);
    return traits_type::to_int_type(*gptr());
}

std::streamsize FdFileBuffer::xsgetn(char* data, std::streamsize count) {
    std::streamsize done = 0;
    while (done < count) {
        const std::streamsize buffered = egptr() - gptr();
        if (buffered > 0) {
            const std::streamsize take = buffered < count - done ? buffered : count - done;
            std::memcpy(data + done, gptr(), static_cast<size_t>(take));
            gbump(static_cast<int>(take));
            done += take;
            continue;
        }
        const size_t left = static_cast<size_t>(count - done);
        // Less than a buffer's worth comes through the buffer; more goes straight
        // to the caller's memory, saving a copy of every byte.
        if (left < buffer_.size()) {
            if (traits_type::eq_int_type(underflow(), traits_type::eof()))
                break;
            continue;
        }
        if (fd_ < 0 || !readable_)
            break;
        if (Writing() && !FlushOut())
            break;
        if (!On()) {
            failed_ = true;
            break;
        }
        ssize_t n;
        do {
            n = read(fd_, data + done, left);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            if (n < 0)
                failed_ = true;
            break;
        }
        done += n;
    }
    return done;
}

FdFileBuffer::int_type FdFileBuffer::overflow(int_type c) {
    if (!StartWriting())
        return traits_type::eof();
    if (pptr() == epptr()) {
        if (!FlushOut())
            return traits_type::eof();
        setp(&buffer_[0], &buffer_[0] + buffer_.size());
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int FdFileBuffer::sync() {
    if (Writing() && !FlushOut())
        return -1;
    return 0;
}

std::streamsize FdFileBuffer::xsputn(const char* data, std::streamsize count) {
    if (count <= 0)
        return 0;
    if (!StartWriting())
        return 0;
    const size_t size = static_cast<size_t>(count);
    if (size <= static_cast<size_t>(epptr() - pptr())) {
        std::memcpy(pptr(), data, size);
        pbump(static_cast<int>(size));
        return count;
    }
    if (!FlushOut())
        return 0;
    if (size < buffer_.size()) {
        setp(&buffer_[0], &buffer_[0] + buffer_.size());
        std::memcpy(pptr(), data, size);
        pbump(static_cast<int>(size));
        return count;
    }
    return Transfer(data, size) ? count : 0;
}

FdFileBuffer::pos_type FdFileBuffer::seekoff(off_type offset, std::ios_base::seekdir direction,
                                             std::ios_base::openmode) {
    const pos_type invalid(off_type(-1));
    if (fd_ < 0 || !On())
        return invalid;
    if (direction == std::ios_base::cur && offset == 0) {
        // Where the stream stands, without disturbing what is buffered.
        const off_t at = lseek(fd_, 0, SEEK_CUR);
        if (at < 0)
            return invalid;
        if (Reading())
            return pos_type(off_type(at - (egptr() - gptr())));
        if (Writing())
            return pos_type(off_type(at + (pptr() - pbase())));
        return pos_type(off_type(at));
    }
    if (Writing() && !FlushOut())
        return invalid;
    if (direction == std::ios_base::cur && Reading())
        offset -= egptr() - gptr();
    setg(0, 0, 0);
    const int whence = direction == std::ios_base::beg   ? SEEK_SET
                       : direction == std::ios_base::cur ? SEEK_CUR
                                                         : SEEK_END;
    const off_t at = lseek(fd_, static_cast<off_t>(offset), whence);
    return at < 0 ? invalid : pos_type(off_type(at));
}

FdFileBuffer::pos_type FdFileBuffer::seekpos(pos_type position, std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

}  // namespace host
}  // namespace platform
