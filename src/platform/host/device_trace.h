// Host only: the device-call trace. When the file DEVICE/hw/trace.jsonl exists,
// every device-manager and stream-driver call appends one compact JSON object
// on a line of its own, in call order:
//
//   "dev"               the device name ("EPM1:", "SPI1:", "GIO1:"); for
//                       device-manager calls the registry key or search pattern
//   "op"                "open", "close", "read", "write", "seek", "ioctl",
//                       "find", "activate", "deactivate"
//   "code"              ioctl: the control code, lower-case hex ("0x220c10")
//   "in", "out"         ioctl: the input buffer, and what the driver returned in
//                       the output buffer, as 32-bit little-endian words (a
//                       last partial word zero-filled); left out without a
//                       buffer. An SPI master's configure code (0x220800) shows
//                       "in" as [chip select] and "config" as the 15 words of
//                       the configuration its input refers to.
//   "data"              read, write: the bytes transferred, lower-case hex
//   "offset", "method"  seek: the distance and the move method
//   "ok"                the call's success
//
// A call on a handle that is not open reaches no driver and is not traced.
// The file is never created here; a link or anything but a regular file there
// (or on the way) is no trace.
#ifndef FWSETUP_PLATFORM_HOST_DEVICE_TRACE_H
#define FWSETUP_PLATFORM_HOST_DEVICE_TRACE_H

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <string>

namespace platform {
namespace host {

// One call's line, built member by member in the order above.
class DeviceTraceRecord {
  public:
    DeviceTraceRecord(const std::string& dev, const char* op);

    void Code(uint32_t code);
    // bytes as an array of 32-bit little-endian words under member.
    void Words(const char* member, const uint8_t* bytes, uint32_t size);
    // count numbers under member.
    void Numbers(const char* member, const uint32_t* values, size_t count);
    void Data(const uint8_t* bytes, uint32_t size);
    void Seek(int32_t offset, uint32_t method);

    // Adds "ok" and appends the line to the trace of the device folder device,
    // when it has one.
    void Finish(const std::string& device, bool ok);

  private:
    rapidjson::StringBuffer buffer_;
    rapidjson::Writer<rapidjson::StringBuffer> writer_;
};

}  // namespace host
}  // namespace platform

#endif
