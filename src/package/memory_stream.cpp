#include "package/memory_stream.h"

#include <climits>
#include <cstring>

namespace {

// Results are ints: one call moves at most INT_MAX bytes.
uint32_t CapCount(uint32_t count) {
    return count > static_cast<uint32_t>(INT_MAX) ? static_cast<uint32_t>(INT_MAX) : count;
}

}  // namespace

MemoryStream::MemoryStream() : position_(0) {}

MemoryStream::MemoryStream(const ByteVector& bytes) : bytes_(bytes), position_(0) {}

MemoryStream::MemoryStream(const uint8_t* data, size_t size)
    : bytes_(data, data == 0 ? data : data + size), position_(0) {}

int MemoryStream::Read(uint8_t* buffer, uint32_t count) {
    const size_t left = bytes_.size() - position_;
    size_t n = CapCount(count);
    if (n > left)
        n = left;
    if (n > 0) {
        std::memcpy(buffer, &bytes_[position_], n);
        position_ += n;
    }
    return static_cast<int>(n);
}

int MemoryStream::Write(const uint8_t* data, uint32_t count) {
    const uint32_t n = CapCount(count);
    if (n > 0)
        bytes_.insert(bytes_.end(), data, data + n);
    return static_cast<int>(n);
}
