// Byte streams: the abstract Stream and the mode byte shared by its file implementation.
#ifndef FWSETUP_PACKAGE_STREAM_H
#define FWSETUP_PACKAGE_STREAM_H

#include <cstdint>

#include "platform/types.h"

// The mode byte of a stream; flags are combined by OR.
namespace StreamMode {
const uint8_t Read = 1;
const uint8_t Write = 2;
const uint8_t Append = 4;
const uint8_t Truncate = 8;
const uint8_t AtEnd = 16;
}  // namespace StreamMode

// Negative results of Read and Write; non-negative results are byte counts.
const int kStreamFailed = -2;       // fail or bad flag set
const int kStreamEndOfFile = -3;    // end of file reached and nothing transferred
const int kStreamNotWritable = -4;  // Write on a stream not opened with StreamMode::Write

class Stream {
  public:
    virtual ~Stream() {}
    // Fills up to count bytes of buffer; a byte count or a negative result.
    virtual int Read(uint8_t* buffer, uint32_t count) = 0;
    // Writes all of data through Write(data, count).
    virtual int Write(const ByteVector& data) {
        return Write(data.empty() ? nullptr : &data[0], static_cast<uint32_t>(data.size()));
    }
    // Reads up to count bytes from source and writes what arrived; a negative
    // read result is returned unchanged.
    virtual int WriteFrom(Stream& source, uint32_t count) {
        uint8_t* temporary = new uint8_t[count == 0 ? 1 : count];
        const int read = source.Read(temporary, count);
        int result = read;
        if (read >= 0) {
            const uint32_t n =
                static_cast<uint32_t>(read) < count ? static_cast<uint32_t>(read) : count;
            result = Write(temporary, n);
        }
        delete[] temporary;
        return result;
    }
    // Writes count bytes of data; a byte count or a negative result.
    virtual int Write(const uint8_t* data, uint32_t count) = 0;
    // Flushes and closes.
    virtual void Close() = 0;
};

#endif
