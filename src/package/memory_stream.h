// A Stream over bytes held in memory: reads run from the start, writes append.
#ifndef FWSETUP_PACKAGE_MEMORY_STREAM_H
#define FWSETUP_PACKAGE_MEMORY_STREAM_H

#include <cstddef>
#include <cstdint>

#include "package/stream.h"
#include "platform/types.h"

class MemoryStream : public Stream {
  public:
    MemoryStream();
    explicit MemoryStream(const ByteVector& bytes);
    // A copy of size bytes at data (null is allowed when size is 0).
    MemoryStream(const uint8_t* data, size_t size);

    // Up to count bytes from the read position; 0 once every byte was read.
    int Read(uint8_t* buffer, uint32_t count);
    using Stream::Write;
    // Appends count bytes; the byte count.
    int Write(const uint8_t* data, uint32_t count);
    // Nothing to flush.
    void Close() {}

    // Every byte the stream holds, read or not.
    const ByteVector& Bytes() const { return bytes_; }

  private:
    ByteVector bytes_;
    size_t position_;
};

#endif
