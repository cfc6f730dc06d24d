// The simulated device manager, registry and EEPROM utility driver, through the
// platform calls the module uses.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "eeprom_fixture.h"
#include "platform/devices.h"
#include "platform/registry.h"
#include "support/temp_device.h"

namespace {

using eepromtest::EepromDevice;
using eepromtest::FormattedImage;
using eepromtest::ReadHostFile;
using fwtest::W;

ByteVector Text(const std::string& ascii) {
    ByteVector bytes;
    for (char c : ascii) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

ByteVector Dword(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

// Sets the driver's registry values; a value given as empty is left out.
void Register(const std::string& prefix, const ByteVector& index, const std::string& dll) {
    platform::RegKey key;
    ASSERT_EQ(platform::RegCreateKeyEx(platform::kHKeyLocalMachine, W("Drivers\\EEpromUtil"), key,
                                       nullptr),
              platform::kErrorSuccess);
    if (!prefix.empty()) {
        const ByteVector data = Text(prefix);
        platform::RegSetValueEx(key, W("Prefix"), platform::kRegSz, data.data(), data.size());
    }
    if (!index.empty())
        platform::RegSetValueEx(key, W("Index"), platform::kRegDword, index.data(), index.size());
    if (!dll.empty()) {
        const ByteVector data = Text(dll);
        platform::RegSetValueEx(key, W("Dll"), platform::kRegSz, data.data(), data.size());
    }
    EXPECT_EQ(platform::RegFlushKey(key), platform::kErrorSuccess);
    EXPECT_EQ(platform::RegCloseKey(key), platform::kErrorSuccess);
}

struct ActivationCase {
    const char* name;
    std::function<void(EepromDevice&)> setUp;
    bool loads;
};

TEST(DeviceManager, ActivatesOnlyTheRegisteredDriverWhenItsFileExists) {
    const char* kDll = "\\boot\\EEPromUtilDriver.dll";
    const ActivationCase cases[] = {
        {"as registered", [&](EepromDevice&) { Register("EPM", Dword(1), kDll); }, true},
        {"path in other case and slashes",
         [&](EepromDevice&) { Register("epm", Dword(1), "/BOOT/eepromutildriver.DLL"); }, true},
        {"no key", [](EepromDevice&) {}, false},
        {"no Dll value", [&](EepromDevice&) { Register("EPM", Dword(1), ""); }, false},
        {"another dll", [&](EepromDevice&) { Register("EPM", Dword(1), "\\boot\\other.dll"); },
         false},
        {"wrong prefix", [&](EepromDevice&) { Register("SPI", Dword(1), kDll); }, false},
        {"index not a digit", [&](EepromDevice&) { Register("EPM", Dword(10), kDll); }, false},
        {"index not a dword",
         [&](EepromDevice&) {
             Register("EPM", {1, 0}, kDll);
         },
         false},
        {"driver file missing",
         [&](EepromDevice& d) {
             Register("EPM", Dword(1), kDll);
             d.RemoveDriverFile();
         },
         false},
        {"already loaded",
         [&](EepromDevice& d) {
             Register("EPM", Dword(1), kDll);
             d.MarkDriverLoaded();
         },
         false},
    };
    for (const ActivationCase& c : cases) {
        SCOPED_TRACE(c.name);
        EepromDevice device;
        c.setUp(device);
        const bool wasLoaded = device.DriverLoaded();
        const platform::DeviceHandle handle = platform::ActivateDeviceEx(W("Drivers\\EEpromUtil"));
        EXPECT_EQ(handle != platform::kNullDeviceHandle, c.loads);
        EXPECT_EQ(device.DriverLoaded(), c.loads || wasLoaded);
        if (handle != platform::kNullDeviceHandle) {
            EXPECT_TRUE(platform::DeactivateDevice(handle));
            EXPECT_FALSE(device.DriverLoaded());
            EXPECT_FALSE(platform::DeactivateDevice(handle));
            EXPECT_TRUE(platform::CloseHandle(handle));
            EXPECT_FALSE(platform::CloseHandle(handle));
        }
    }
}

TEST(DeviceManager, FindsLoadedDevicesByPatternAndNeverUnloadsThroughASearch) {
    EepromDevice device;
    platform::DeviceInformation info;
    info.size = platform::kDeviceInformationSize;
    EXPECT_EQ(platform::FindFirstDevice(platform::kDeviceSearchByDeviceName, W("EPM*"), info),
              platform::kInvalidDeviceHandle);
    device.MarkDriverLoaded();
    info.size = 0x62F;
    EXPECT_EQ(platform::FindFirstDevice(platform::kDeviceSearchByDeviceName, W("EPM*"), info),
              platform::kInvalidDeviceHandle);
    info.size = platform::kDeviceInformationSize;
    EXPECT_EQ(platform::FindFirstDevice(platform::kDeviceSearchByDeviceName, W("SPI*"), info),
              platform::kInvalidDeviceHandle);
    EXPECT_EQ(platform::FindFirstDevice(7, W("EPM*"), info), platform::kInvalidDeviceHandle);
    const platform::DeviceHandle search =
        platform::FindFirstDevice(platform::kDeviceSearchByDeviceName, W("epm?"), info);
    ASSERT_NE(search, platform::kInvalidDeviceHandle);
    EXPECT_EQ(info.legacyName, W("EPM1:"));
    EXPECT_EQ(info.deviceKey, W("Drivers\\EEpromUtil"));
    EXPECT_FALSE(platform::DeactivateDevice(search));
    EXPECT_TRUE(platform::CloseHandle(search));
    EXPECT_TRUE(device.DriverLoaded());
    const platform::DeviceHandle byLegacyName =
        platform::FindFirstDevice(platform::kDeviceSearchByLegacyName, W("EPM1:"), info);
    EXPECT_NE(byLegacyName, platform::kInvalidDeviceHandle);
    platform::CloseHandle(byLegacyName);
}

class EepromDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        device_.MarkDriverLoaded();
        device_.WriteImage(FormattedImage(19));
        handle_ = platform::CreateFile(W("EPM1:"), platform::kGenericRead | platform::kGenericWrite,
                                       0, platform::kOpenExisting);
        ASSERT_NE(handle_, platform::kInvalidDeviceHandle);
    }
    void TearDown() override { EXPECT_TRUE(platform::CloseHandle(handle_)); }

    bool Seek(uint32_t offset, uint32_t count) {
        return platform::SetFilePointer(handle_, static_cast<int32_t>(offset), nullptr, count) !=
               platform::kInvalidSetFilePointer;
    }
    // The bytes a read delivered; -1 in first place when the call failed.
    std::pair<bool, ByteVector> ReadBytes(uint32_t count) {
        ByteVector buffer(count);
        uint32_t delivered = 0;
        const bool ok = platform::ReadFile(handle_, buffer.data(), count, &delivered);
        buffer.resize(delivered);
        return {ok, buffer};
    }

    EepromDevice device_;
    platform::DeviceHandle handle_ = platform::kInvalidDeviceHandle;
};

TEST_F(EepromDriver, OpensOnlyLoadedDevices) {
    EXPECT_EQ(platform::CreateFile(W("EPM2:"), platform::kGenericRead, 0, platform::kOpenExisting),
              platform::kInvalidDeviceHandle);
    const platform::DeviceHandle lower =
        platform::CreateFile(W("epm1:"), platform::kGenericRead, 0, platform::kOpenExisting);
    EXPECT_NE(lower, platform::kInvalidDeviceHandle);
    platform::CloseHandle(lower);
}

TEST_F(EepromDriver, AcceptsItsControlCodeWithoutBuffersOnly) {
    uint8_t buffer[4] = {0, 0, 0, 0};
    EXPECT_TRUE(platform::DeviceIoControl(handle_, 0x222004, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_FALSE(platform::DeviceIoControl(handle_, 0x222004, buffer, 4, nullptr, 0, nullptr));
    EXPECT_FALSE(platform::DeviceIoControl(handle_, 0x222004, nullptr, 0, buffer, 4, nullptr));
    EXPECT_FALSE(platform::DeviceIoControl(handle_, 0x222008, nullptr, 0, nullptr, 0, nullptr));
}

TEST_F(EepromDriver, TransfersOnlyWhatWasAnnouncedInsideTheEeprom) {
    EXPECT_FALSE(ReadBytes(2).first) << "no announcement";
    ASSERT_TRUE(Seek(1, 2));
    EXPECT_EQ(ReadBytes(2), std::make_pair(true, ByteVector({0x13, 0x00})));
    EXPECT_FALSE(ReadBytes(2).first) << "announcement used up";
    ASSERT_TRUE(Seek(1, 2));
    EXPECT_FALSE(ReadBytes(3).first) << "more than announced";
    EXPECT_TRUE(Seek(0x7FFE, 2));
    EXPECT_FALSE(Seek(0x7FFF, 2));
    EXPECT_FALSE(ReadBytes(1).first) << "a failed announcement leaves none";
    EXPECT_FALSE(Seek(0x8000, 1));
    EXPECT_FALSE(Seek(0, 0));
    EXPECT_FALSE(Seek(0xFFFFFFFFu, 1));
    int32_t high = 1;
    EXPECT_EQ(platform::SetFilePointer(handle_, 0, &high, 1), platform::kInvalidSetFilePointer);
    EXPECT_EQ(device_.Image(), FormattedImage(19));
}

TEST_F(EepromDriver, FillsTheAnnouncedSpanWithAShorterWrite) {
    ASSERT_TRUE(Seek(0, 0x8000));
    const uint8_t zero = 0x00;
    uint32_t written = 0;
    ASSERT_TRUE(platform::WriteFile(handle_, &zero, 1, &written));
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(device_.Image(), ByteVector(0x8000, 0x00));
    ASSERT_TRUE(Seek(64, 4));
    const uint8_t bytes[4] = {1, 2, 3, 4};
    ASSERT_TRUE(platform::WriteFile(handle_, bytes, 4, &written));
    ASSERT_TRUE(Seek(63, 6));
    EXPECT_EQ(ReadBytes(6), std::make_pair(true, ByteVector({0, 1, 2, 3, 4, 0})));
}

TEST_F(EepromDriver, ShortOrMissingImages) {
    device_.WriteImage({0xA6, 0x13});
    ASSERT_TRUE(Seek(1, 2));
    EXPECT_EQ(ReadBytes(2).second, ByteVector({0x13}));
    ASSERT_TRUE(Seek(1, 2));
    const uint8_t bytes[2] = {1, 2};
    EXPECT_FALSE(platform::WriteFile(handle_, bytes, 2, nullptr)) << "the image lacks byte 2";
    EXPECT_EQ(device_.Image(), ByteVector({0xA6, 0x13}));

    std::filesystem::remove(device_.Hw("eeprom.bin"));
    ASSERT_TRUE(Seek(0, 1));
    EXPECT_EQ(ReadBytes(1), std::make_pair(false, ByteVector()));
    ASSERT_TRUE(Seek(0, 1));
    EXPECT_FALSE(platform::WriteFile(handle_, bytes, 1, nullptr));
    EXPECT_FALSE(std::filesystem::exists(device_.Hw("eeprom.bin")));
}

TEST(Registry, KeepsValuesReadableInTheDeviceFolder) {
    EepromDevice device;
    platform::RegKey key;
    bool created = false;
    ASSERT_EQ(
        platform::RegCreateKeyEx(platform::kHKeyLocalMachine, W("Drivers\\Test"), key, &created),
        platform::kErrorSuccess);
    EXPECT_TRUE(created);
    const ByteVector raw = {1, 2, 0xAB};
    const ByteVector unterminated = {'a', 0};
    EXPECT_EQ(platform::RegSetValueEx(key, W("Name"), platform::kRegSz, Text("x").data(), 4),
              platform::kErrorSuccess);
    EXPECT_EQ(platform::RegSetValueEx(key, W("NAME"), platform::kRegSz, Text("EPM").data(), 8),
              platform::kErrorSuccess);
    EXPECT_EQ(
        platform::RegSetValueEx(key, W("Count"), platform::kRegDword, Dword(0xFFFFFFFFu).data(), 4),
        platform::kErrorSuccess);
    EXPECT_EQ(platform::RegSetValueEx(key, W("Raw"), platform::kRegBinary, raw.data(), 3),
              platform::kErrorSuccess);
    EXPECT_EQ(platform::RegSetValueEx(key, W("Cut"), platform::kRegSz, unterminated.data(), 2),
              platform::kErrorSuccess);
    EXPECT_EQ(platform::RegCloseKey(key), platform::kErrorSuccess);
    EXPECT_EQ(platform::RegSetValueEx(key, W("Late"), platform::kRegSz, Text("x").data(), 4),
              platform::kErrorInvalidHandle);

    const std::string registry = ReadHostFile(device.Hw("registry.json"));
    EXPECT_EQ(registry,
              "{\n"
              "  \"HKEY_LOCAL_MACHINE\\\\Drivers\\\\Test\": {\n"
              "    \"Name\": \"EPM\",\n"
              "    \"Count\": 4294967295,\n"
              "    \"Raw\": {\n"
              "      \"type\": 3,\n"
              "      \"data\": \"0102ab\"\n"
              "    },\n"
              "    \"Cut\": {\n"
              "      \"type\": 1,\n"
              "      \"data\": \"6100\"\n"
              "    }\n"
              "  }\n"
              "}\n");

    // The same key in other letters is the key that exists.
    ASSERT_EQ(
        platform::RegCreateKeyEx(platform::kHKeyLocalMachine, W("DRIVERS\\test"), key, &created),
        platform::kErrorSuccess);
    EXPECT_FALSE(created);
    platform::RegCloseKey(key);
    EXPECT_EQ(ReadHostFile(device.Hw("registry.json")), registry);
}

TEST(Registry, RefusesBadKeysAndNeverOverwritesABrokenFile) {
    EepromDevice device;
    platform::RegKey key;
    for (const char* bad : {"", "\\Drivers", "Drivers\\", "Drivers\\\\X"}) {
        EXPECT_EQ(platform::RegCreateKeyEx(platform::kHKeyLocalMachine, W(bad), key, nullptr),
                  platform::kErrorInvalidParameter)
            << bad;
    }
    EXPECT_NE(platform::RegCreateKeyEx(platform::kNullRegKey, W("Drivers"), key, nullptr),
              platform::kErrorSuccess);
    // Not an object, or nested past any sensible depth (which must not exhaust the stack).
    for (const std::string& broken :
         {std::string("[1, 2]"), "{\"a\": " + std::string(3000000, '[')}) {
        eepromtest::WriteHostFile(device.Hw("registry.json"), broken);
        EXPECT_NE(platform::RegCreateKeyEx(platform::kHKeyLocalMachine, W("Drivers"), key, nullptr),
                  platform::kErrorSuccess);
        EXPECT_EQ(ReadHostFile(device.Hw("registry.json")), broken);
    }
}

TEST(DeviceManager, ABrokenListOfLoadedDevicesLoadsNothing) {
    EepromDevice device;
    device.WriteImage(FormattedImage(19));
    Register("EPM", Dword(1), "\\boot\\EEPromUtilDriver.dll");
    platform::DeviceInformation info;
    info.size = platform::kDeviceInformationSize;
    for (const std::string& broken :
         {std::string("[]"), "{\"EPM1:\": " + std::string(3000000, '[')}) {
        eepromtest::WriteHostFile(device.Hw("drivers.json"), broken);
        EXPECT_EQ(platform::FindFirstDevice(platform::kDeviceSearchByDeviceName, W("EPM*"), info),
                  platform::kInvalidDeviceHandle);
        EXPECT_EQ(
            platform::CreateFile(W("EPM1:"), platform::kGenericRead, 0, platform::kOpenExisting),
            platform::kInvalidDeviceHandle);
        EXPECT_EQ(platform::ActivateDeviceEx(W("Drivers\\EEpromUtil")),
                  platform::kNullDeviceHandle);
        EXPECT_EQ(ReadHostFile(device.Hw("drivers.json")), broken);
    }
}

}  // namespace
