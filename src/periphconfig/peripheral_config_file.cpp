#include "periphconfig/peripheral_config_file.h"

#include "fileutil/crc16.h"

namespace {

// The string value of a member; false when it is missing or not a string.
bool ReadText(const rapidjson::Value& object, const char* member, std::string& text) {
    const rapidjson::Value* value = DeviceConfig::Member(object, member);
    if (value == 0 || !value->IsString())
        return false;
    text.assign(value->GetString(), value->GetStringLength());
    return true;
}

}  // namespace

PlatformConfig::PlatformConfig() {}

PlatformConfig::PlatformConfig(const std::string& productName, const std::string& cpuEngine,
                               const std::string& mainboard)
    : productName(productName), cpuEngine(cpuEngine), mainboard(mainboard) {}

std::shared_ptr<PlatformConfig> PlatformConfig::Read(const rapidjson::Value& platform) {
    std::string productName, cpuEngine, mainboard;
    if (!ReadText(platform, "productName", productName) ||
        !ReadText(platform, "cpuEngine", cpuEngine) || !ReadText(platform, "mainboard", mainboard))
        return std::shared_ptr<PlatformConfig>();
    return std::make_shared<PlatformConfig>(productName, cpuEngine, mainboard);
}

PeripheralConfigFile::PeripheralConfigFile() : platform_(std::make_shared<PlatformConfig>()) {}

PeripheralConfigFile::~PeripheralConfigFile() {}

bool PeripheralConfigFile::Load(Stream& stream) {
    Reset();
    if (!LoadFromStream(stream))
        return false;
    if (!BuildRecords())
        return false;
    return !devices_.empty();
}

bool PeripheralConfigFile::LoadFromStream(Stream& stream) {
    ByteVector bytes;
    bytes.reserve(256);
    uint8_t byte = 0;
    while (bytes.size() <= kMaxSize && stream.Read(&byte, 1) == 1)
        bytes.push_back(byte);
    if (bytes.size() < kMinSize || bytes.size() > kMaxSize)
        return false;
    const uint16_t stored = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    if (Crc16::Compute(&bytes[kCrcSize], bytes.size() - kCrcSize) != stored)
        return false;
    bytes.push_back(0);
    Document parsed(rapidjson::kObjectType);
    if (!ParseText(reinterpret_cast<const char*>(&bytes[kCrcSize]), parsed))
        return false;
    document_.CopyFrom(parsed, document_.GetAllocator());
    return true;
}

bool PeripheralConfigFile::BuildRecords() {
    const rapidjson::Value* platform = DeviceConfig::Member(document_, "platform");
    if (platform == 0)
        return false;
    const std::shared_ptr<PlatformConfig> read = PlatformConfig::Read(*platform);
    if (!read)
        return false;
    platform_ = read;
    const rapidjson::Value* configuration = DeviceConfig::Member(document_, "configuration");
    if (configuration == 0 || !configuration->IsObject())
        return true;
    const rapidjson::Value* devices = DeviceConfig::Member(*configuration, "devices");
    if (devices == 0 || !devices->IsArray())
        return true;
    for (rapidjson::Value::ConstValueIterator device = devices->Begin(); device != devices->End();
         ++device)
        devices_.push_back(CreateDeviceConfig(*device));
    return true;
}

std::shared_ptr<PlatformConfig> PeripheralConfigFile::GetPlatformConfig() const {
    return platform_;
}

std::shared_ptr<DeviceConfig> PeripheralConfigFile::FindDevice(std::string name) const {
    for (std::deque<std::shared_ptr<DeviceConfig> >::const_iterator record = devices_.begin();
         record != devices_.end(); ++record) {
        if (*record && (*record)->name == name)
            return *record;
    }
    return std::shared_ptr<DeviceConfig>();
}

std::shared_ptr<FpgaHardwareConfig> PeripheralConfigFile::FindFpgaHardwareConfig() const {
    return FpgaHardwareConfig::FromRecord(FindDevice(FpgaHardwareConfig::kRecordName));
}
