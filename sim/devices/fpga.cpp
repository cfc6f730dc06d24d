// The simulated FPGA: its wiring, the choice of model, and the script model
// (fpga.h). The reference model is in reference_fpga.cpp.
#include "sim/devices/fpga.h"

#include <rapidjson/document.h>

#include <cstring>
#include <mutex>

#include "platform/host/host_text.h"
#include "platform/host/json_file.h"
#include "platform/host/safe_files.h"
#include "sim/devices/gpio_pins.h"
#include "sim/devices/reference_fpga.h"

namespace sim {
namespace devices {
namespace {

const char kWiringPath[] = "hw/fpga/wiring.json";
const char kModelPath[] = "hw/fpga/model";
const char kScriptPath[] = "hw/fpga/rx";
// Larger files are not the simulation's.
const size_t kMaxScript = 64u << 20;
const size_t kMaxModel = 4096;

// The script is consumed by one reader at a time in this process.
std::mutex g_scriptMutex;

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes of one script line: hex pairs, blanks between them allowed.
void ParseHexLine(const std::string& line, std::string& bytes) {
    bytes.clear();
    int high = -1;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            if (high >= 0)
                return;
            continue;
        }
        const int value = HexValue(c);
        if (value < 0)
            return;
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<char>((high << 4) | value));
            high = -1;
        }
    }
}

// Fills buffer with the first line of the script and takes the line away.
void ScriptRead(const std::string& device, uint8_t* buffer, uint32_t count) {
    memset(buffer, 0xFF, count);
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    std::string script;
    if (platform::host::ReadFileBelow(device, kScriptPath, kMaxScript, script) !=
            platform::host::kFileRead ||
        script.empty())
        return;
    const size_t end = script.find('\n');
    const std::string line = script.substr(0, end);
    std::string bytes;
    ParseHexLine(line, bytes);
    memcpy(buffer, bytes.data(), bytes.size() < count ? bytes.size() : count);
    platform::host::ReplaceFileBelow(
        device, kScriptPath, end == std::string::npos ? std::string() : script.substr(end + 1));
}

bool ReadMember(const rapidjson::Value& object, const char* name, int64_t low, int64_t high,
                int64_t& value) {
    rapidjson::Value::ConstMemberIterator it = object.FindMember(name);
    if (it == object.MemberEnd())
        return true;
    if (!it->value.IsInt64() || it->value.GetInt64() < low || it->value.GetInt64() > high)
        return false;
    value = it->value.GetInt64();
    return true;
}

// The FPGA selected for a transfer on spiModule: its model and the selection
// number of its pin; false when the FPGA does not see the transfer.
bool SeesTransfer(const std::string& device, uint32_t spiModule, FpgaModel& model,
                  uint64_t& selection) {
    FpgaWiring wiring;
    if (ReadFpgaWiring(device, wiring) == kWiringBroken || wiring.spiModule != spiModule)
        return false;
    const GpioPinState pin = ReadGpioPin(device, wiring.chipSelectPin);
    if (pin.high)
        return false;
    std::string text;
    model = ReadFpgaModel(device, text);
    selection = pin.fallingEdges;
    return true;
}

}  // namespace

FpgaWiringSource ReadFpgaWiring(const std::string& device, FpgaWiring& wiring) {
    wiring = kDefaultFpgaWiring;
    rapidjson::Document document;
    switch (platform::host::LoadJsonObject(device, kWiringPath, document)) {
        case platform::host::kJsonFileMissing:
            return kWiringDefault;
        case platform::host::kJsonFileBroken:
            return kWiringBroken;
        case platform::host::kJsonFileLoaded:
            break;
    }
    int64_t module = wiring.spiModule;
    int64_t pin = wiring.chipSelectPin;
    if (!ReadMember(document, "spiModule", 0, 0xFFFFFFFFll, module) ||
        !ReadMember(document, "chipSelectPin", -0x80000000ll, 0x7FFFFFFFll, pin))
        return kWiringBroken;
    wiring.spiModule = static_cast<uint32_t>(module);
    wiring.chipSelectPin = static_cast<int32_t>(pin);
    return kWiringFile;
}

FpgaModel ReadFpgaModel(const std::string& device, std::string& text) {
    text.clear();
    const platform::host::FileReadResult read =
        platform::host::ReadFileBelow(device, kModelPath, kMaxModel, text);
    if (read == platform::host::kFileMissing)
        return kReferenceFpgaModel;
    text = platform::host::TrimAsciiSpace(text);
    if (read != platform::host::kFileRead)
        return kSilentFpgaModel;
    if (text == "reference")
        return kReferenceFpgaModel;
    if (text == "script")
        return kScriptFpgaModel;
    return kSilentFpgaModel;
}

void FpgaBusWrite(const std::string& device, uint32_t spiModule, const uint8_t* data,
                  uint32_t count) {
    FpgaModel model;
    uint64_t selection = 0;
    if (!SeesTransfer(device, spiModule, model, selection))
        return;
    if (model == kReferenceFpgaModel)
        ReferenceFpgaWrite(device, selection, data, count);
}

void FpgaBusRead(const std::string& device, uint32_t spiModule, uint8_t* buffer, uint32_t count) {
    FpgaModel model;
    uint64_t selection = 0;
    if (!SeesTransfer(device, spiModule, model, selection)) {
        memset(buffer, 0xFF, count);
        return;
    }
    switch (model) {
        case kReferenceFpgaModel:
            ReferenceFpgaRead(device, selection, buffer, count);
            return;
        case kScriptFpgaModel:
            ScriptRead(device, buffer, count);
            return;
        case kSilentFpgaModel:
            memset(buffer, 0xFF, count);
            return;
    }
}

}  // namespace devices
}  // namespace sim
