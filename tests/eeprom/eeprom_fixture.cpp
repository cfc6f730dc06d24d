#include "eeprom_fixture.h"

#include <fstream>
#include <sstream>

#include "fileutil/crc16.h"

namespace fs = std::filesystem;

namespace eepromtest {

ByteVector BlankImage() {
    return ByteVector(kImageSize, 0xFF);
}

ByteVector FormattedImage(uint16_t boardId) {
    ByteVector image = BlankImage();
    image[0] = 0xA6;
    image[1] = static_cast<uint8_t>(boardId & 0xFF);
    image[2] = static_cast<uint8_t>(boardId >> 8);
    return image;
}

void SetEntry(ByteVector& image, int index, uint16_t offset, uint16_t length) {
    uint8_t* entry = &image[4 + 4 * index];
    entry[0] = static_cast<uint8_t>(offset & 0xFF);
    entry[1] = static_cast<uint8_t>(offset >> 8);
    entry[2] = static_cast<uint8_t>(length & 0xFF);
    entry[3] = static_cast<uint8_t>(length >> 8);
}

std::pair<uint16_t, uint16_t> EntryOf(const ByteVector& image, int index) {
    const uint8_t* entry = &image[4 + 4 * index];
    return {static_cast<uint16_t>(entry[0] | (entry[1] << 8)),
            static_cast<uint16_t>(entry[2] | (entry[3] << 8))};
}

ByteVector Stored(const std::string& payload) {
    const uint16_t crc = Crc16::Compute(payload);
    ByteVector stored(payload.size() + 2);
    stored[0] = static_cast<uint8_t>(crc & 0xFF);
    stored[1] = static_cast<uint8_t>(crc >> 8);
    for (size_t i = 0; i < payload.size(); ++i)
        stored[2 + i] = static_cast<uint8_t>(payload[i]);
    return stored;
}

void PutRegion(ByteVector& image, int index, uint16_t offset, const std::string& payload) {
    const ByteVector stored = Stored(payload);
    std::copy(stored.begin(), stored.end(), image.begin() + offset);
    SetEntry(image, index, offset, static_cast<uint16_t>(stored.size()));
}

std::string ReadHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteHostFile(const fs::path& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

EepromDevice::EepromDevice() {
    temp_.Write("\\boot\\EEPromUtilDriver.dll", "driver");
}

void EepromDevice::WriteImage(const ByteVector& image) const {
    WriteHostFile(Hw("eeprom.bin"), std::string(image.begin(), image.end()));
}

ByteVector EepromDevice::Image() const {
    const std::string bytes = ReadHostFile(Hw("eeprom.bin"));
    return ByteVector(bytes.begin(), bytes.end());
}

void EepromDevice::RemoveDriverFile() const {
    fs::remove(temp_.Host("\\boot\\EEPromUtilDriver.dll"));
}

void EepromDevice::MarkDriverLoaded() const {
    WriteHostFile(Hw("drivers.json"),
                  "{\"EPM1:\": {\"dll\": \"\\\\boot\\\\EEPromUtilDriver.dll\", "
                  "\"key\": \"Drivers\\\\EEpromUtil\"}}");
}

bool EepromDevice::DriverLoaded() const {
    return ReadHostFile(Hw("drivers.json")).find("\"EPM1:\"") != std::string::npos;
}

void EepromDevice::StartTrace() const {
    fwtest::StartDeviceTrace(temp_.Root());
}

std::vector<fwtest::TraceCall> EepromDevice::Trace() const {
    return fwtest::ReadDeviceTrace(temp_.Root());
}

size_t EepromDevice::TracedWrites() const {
    size_t writes = 0;
    for (const fwtest::TraceCall& call : Trace())
        writes += call.op == "write";
    return writes;
}

}  // namespace eepromtest
