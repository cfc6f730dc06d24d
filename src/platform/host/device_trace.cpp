#include "platform/host/device_trace.h"

#include <fcntl.h>

#include "platform/host/safe_files.h"

namespace platform {
namespace host {

namespace {

const char kTraceFile[] = "hw/trace.jsonl";

std::string Hex(const uint8_t* bytes, uint32_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * size);
    for (uint32_t i = 0; i < size; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 15]);
    }
    return text;
}

}  // namespace

DeviceTraceRecord::DeviceTraceRecord(const std::string& dev, const char* op) : writer_(buffer_) {
    writer_.StartObject();
    writer_.Key("dev");
    writer_.String(dev.c_str(), static_cast<rapidjson::SizeType>(dev.size()));
    writer_.Key("op");
    writer_.String(op);
}

void DeviceTraceRecord::Code(uint32_t code) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[code & 15]);
        code >>= 4;
    } while (code != 0);
    text.insert(0, "0x");
    writer_.Key("code");
    writer_.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

void DeviceTraceRecord::Words(const char* member, const uint8_t* bytes, uint32_t size) {
    writer_.Key(member);
    writer_.StartArray();
    for (uint32_t at = 0; at < size; at += 4) {
        uint32_t word = 0;
        for (uint32_t k = 0; k < 4 && at + k < size; ++k)
            word |= static_cast<uint32_t>(bytes[at + k]) << (8 * k);
        writer_.Uint(word);
    }
    writer_.EndArray();
}

void DeviceTraceRecord::Numbers(const char* member, const uint32_t* values, size_t count) {
    writer_.Key(member);
    writer_.StartArray();
    for (size_t i = 0; i < count; ++i)
        writer_.Uint(values[i]);
    writer_.EndArray();
}

void DeviceTraceRecord::Data(const uint8_t* bytes, uint32_t size) {
    const std::string text = Hex(bytes, size);
    writer_.Key("data");
    writer_.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

void DeviceTraceRecord::Seek(int32_t offset, uint32_t method) {
    writer_.Key("offset");
    writer_.Int(offset);
    writer_.Key("method");
    writer_.Uint(method);
}

void DeviceTraceRecord::Finish(const std::string& device, bool ok) {
    writer_.Key("ok");
    writer_.Bool(ok);
    writer_.EndObject();
    if (device.empty())
        return;
    // No O_CREAT: the trace is kept only where a test made the file.
    UniqueFd trace(OpenFileBelow(device, kTraceFile, O_WRONLY | O_APPEND));
    if (!trace.Valid())
        return;
    std::string line(buffer_.GetString(), buffer_.GetSize());
    line.push_back('\n');
    WriteAllFd(trace.Get(), line.data(), line.size());
}

}  // namespace host
}  // namespace platform
