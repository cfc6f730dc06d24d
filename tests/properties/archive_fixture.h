// A printer with a \store\ folder for archive tests, and the archive format
// written out by hand (never by the code under test).
#ifndef FWSETUP_TESTS_PROPERTIES_ARCHIVE_FIXTURE_H
#define FWSETUP_TESTS_PROPERTIES_ARCHIVE_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "properties/json_property_archiver.h"
#include "properties/string_property.h"
#include "runtime/thread_factory.h"
#include "support/md5_hex.h"
#include "support/temp_device.h"

namespace fwtest {

const unsigned char kArchiveHeader[16] = {0xB3, 0xEC, 0x09, 0x9A, 0x22, 0x92, 0x48, 0xFA,
                                          0x83, 0xD0, 0x06, 0x84, 0x0B, 0xC9, 0x91, 0x02};

// An archive image: the header, L little-endian, the text.
inline std::string ArchiveImage(const std::string& text, uint32_t length) {
    std::string image(reinterpret_cast<const char*>(kArchiveHeader), 16);
    for (int i = 0; i < 4; ++i)
        image += static_cast<char>((length >> (8 * i)) & 0xFF);
    return image + text;
}
inline std::string ArchiveImage(const std::string& text) {
    return ArchiveImage(text, static_cast<uint32_t>(text.size()));
}

// CRC-16/MAXIM-DOW, bit by bit, for the tests alone (check value of "123456789": 0x44C2).
inline uint16_t Crc16MaximDow(const std::string& data) {
    uint16_t crc = 0;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return static_cast<uint16_t>(~crc);
}

// A legacy property file: the text and its CRC, low byte first.
inline std::string LegacyFile(const std::string& text) {
    const uint16_t crc = Crc16MaximDow(text);
    return text + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
}

// One entry as the archive writes it.
inline std::string EntryJson(const std::string& id, const std::string& name,
                             const std::string& group, const std::string& groupName,
                             const std::string& value) {
    return "{\"Name\":\"" + id + "\",\"NameString\":\"" + name + "\",\"Group\":\"" + group +
           "\",\"GroupString\":\"" + groupName + "\",\"Value\":\"" + value + "\"}";
}

class ArchiveTest : public ::testing::Test {
  protected:
    // The archive's device path and the host names of its files below fs/store/.
    static constexpr const char16_t* kPath = u"/Store/Properties.json";
    static constexpr const char* kFile = "store/Properties.json";

    ArchiveTest() : factory_(std::make_shared<ThreadFactory>(253)) {
        device_.MakeDir("store");
        SetAvailable(1ull << 32);
    }

    void SetAvailable(uint64_t bytes) const {
        std::ofstream(device_.Hw() / "avail-phys", std::ios::trunc) << bytes;
    }

    std::unique_ptr<JsonPropertyArchiver> NewArchive(const char16_t* path = kPath) const {
        return std::unique_ptr<JsonPropertyArchiver>(new JsonPropertyArchiver(path, factory_, 253));
    }

    // Writes file (below fs/) with contents, and file.MD5 with their digest.
    void WritePair(const std::string& file, const std::string& contents) const {
        device_.Write(file, contents);
        device_.Write(file + ".MD5", Md5Hex(contents));
    }
    // The archive pair holding text.
    void WriteArchive(const std::string& text) const { WritePair(kFile, ArchiveImage(text)); }
    void WriteBackup(const std::string& text) const {
        device_.Write(std::string(kFile) + ".bak", ArchiveImage(text));
        device_.Write(std::string(kFile) + ".MD5.bak", Md5Hex(ArchiveImage(text)));
    }

    // Every file below fs/store/ with its contents.
    std::map<std::string, std::string> StoreFiles() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(device_.Fs() / "store"))
            files[entry.path().filename().string()] =
                device_.Read("store/" + entry.path().filename().string());
        return files;
    }

    // The JSON text the document holds.
    static std::string TextOf(JsonDocument& document) {
        rapidjson::StringBuffer buffer;
        EXPECT_TRUE(document.WriteText(buffer));
        return std::string(buffer.GetString(), buffer.GetSize());
    }

    TempDevice device_;
    std::shared_ptr<ThreadFactory> factory_;
};

inline std::shared_ptr<StringProperty> MakeString(const std::string& value, const std::string& id,
                                                  const std::string& group) {
    return std::make_shared<StringProperty>(value, id, "name of " + id, group, "name of " + group);
}

}  // namespace fwtest

#endif
