// Host side of the device manager and the stream-driver calls.
//
// Loaded devices are kept with the device folder, in DEVICE/hw/drivers.json: one
// member per loaded device, named by its legacy name ("EPM1:"), holding the
// driver file ("dll") and the registry key it was activated with ("key"). A
// device stays loaded until DeactivateDevice unloads it, across processes, as on
// the printer. Deleting the file unloads everything; writing a member makes a
// device loaded.
//
// Activation (ActivateDeviceEx) reads the key's values under HKEY_LOCAL_MACHINE:
// "Dll" (REG_SZ) must name one of the drivers of kDrivers and that file must
// exist on the device; "Prefix" (REG_SZ) must be the driver's prefix and "Index"
// (REG_DWORD) a digit 0..9. The device's legacy name is Prefix + Index + ":"; a
// device of that name must not be loaded yet.
//
// Handles are numbers of a table of this process. Calls are traced to
// DEVICE/hw/trace/devices.log when the folder DEVICE/hw/trace exists. A
// drivers.json that is a link or anything but a regular file counts as broken:
// nothing activates or opens, and it is never replaced.
#include "platform/devices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "platform/host/device_root.h"
#include "platform/host/host_text.h"
#include "platform/host/json_file.h"
#include "platform/host/registry_store.h"
#include "platform/host/stream_drivers.h"

namespace platform {
namespace {

using host::EqualsIgnoringCase;
using host::TraceDeviceCall;

enum HandleKind { kSearchHandle, kActivationHandle, kOpenDeviceHandle };

struct HandleEntry {
    HandleKind kind;
    std::string folder;      // DEVICE: the device folder the handle belongs to
    std::string legacyName;  // "EPM1:"
    bool deactivated;
    std::shared_ptr<host::OpenStreamDevice> device;  // open device handles only
};

std::mutex g_mutex;
std::map<intptr_t, HandleEntry> g_handles;
intptr_t g_nextHandle = 0x1000;

const char kDriversFile[] = "hw/drivers.json";

std::string Narrow(const WString& text) {
    std::string utf8;
    if (!host::Utf16ToUtf8(text, utf8))
        return "?";
    return utf8;
}

DeviceHandle NewHandle(const HandleEntry& entry) {
    const intptr_t handle = g_nextHandle;
    g_nextHandle += 4;
    g_handles[handle] = entry;
    return static_cast<DeviceHandle>(handle);
}

HandleEntry* FindHandle(DeviceHandle handle) {
    std::map<intptr_t, HandleEntry>::iterator it = g_handles.find(handle);
    return it == g_handles.end() ? 0 : &it->second;
}

bool DevicePathIsFile(const WString& devicePath) {
    host::DeviceEntry entry;
    return host::ResolveDevicePath(devicePath, entry) && entry.exists && S_ISREG(entry.st.st_mode);
}

bool SamePath(const WString& a, const WString& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char16_t x = a[i] == u'/' ? u'\\' : a[i];
        const char16_t y = b[i] == u'/' ? u'\\' : b[i];
        if (!EqualsIgnoringCase(WString(1, x), WString(1, y)))
            return false;
    }
    return true;
}

// "*" and "?" over ASCII letters without regard to case.
bool Matches(const std::string& pattern, size_t p, const std::string& name, size_t n) {
    while (p < pattern.size()) {
        if (pattern[p] == '*') {
            for (size_t k = n; k <= name.size(); ++k) {
                if (Matches(pattern, p + 1, name, k))
                    return true;
            }
            return false;
        }
        if (n >= name.size())
            return false;
        if (pattern[p] != '?' &&
            !EqualsIgnoringCase(std::string(1, pattern[p]), std::string(1, name[n])))
            return false;
        ++p;
        ++n;
    }
    return n == name.size();
}

const host::StreamDriver* DriverOfDll(const WString& dll) {
    for (size_t i = 0; i < host::kStreamDriverCount; ++i) {
        if (SamePath(dll, host::kStreamDrivers[i].dll))
            return &host::kStreamDrivers[i];
    }
    return 0;
}

const host::StreamDriver* DriverOfDll(const std::string& dllUtf8) {
    WString dll;
    if (!host::Utf8ToUtf16(dllUtf8, dll))
        return 0;
    return DriverOfDll(dll);
}

std::string JsonString(const rapidjson::Value& object, const char* name) {
    rapidjson::Value::ConstMemberIterator it = object.FindMember(name);
    if (it == object.MemberEnd() || !it->value.IsString())
        return std::string();
    return std::string(it->value.GetString(), it->value.GetStringLength());
}

}  // namespace

DeviceHandle FindFirstDevice(uint32_t searchType, const WString& pattern, DeviceInformation& info) {
    if (info.size != kDeviceInformationSize ||
        (searchType != kDeviceSearchByLegacyName && searchType != kDeviceSearchByDeviceName))
        return kInvalidDeviceHandle;
    std::string patternUtf8;
    if (!host::Utf16ToUtf8(pattern, patternUtf8))
        return kInvalidDeviceHandle;
    const std::string device = host::DeviceRoot();
    if (device.empty())
        return kInvalidDeviceHandle;

    std::lock_guard<std::mutex> lock(g_mutex);
    rapidjson::Document drivers;
    if (host::LoadJsonObject(device, kDriversFile, drivers) != host::kJsonFileLoaded) {
        TraceDeviceCall(device, "find " + patternUtf8 + " -> none");
        return kInvalidDeviceHandle;
    }
    for (rapidjson::Value::ConstMemberIterator it = drivers.MemberBegin();
         it != drivers.MemberEnd(); ++it) {
        const std::string legacyName(it->name.GetString(), it->name.GetStringLength());
        if (!it->value.IsObject() || !DriverOfDll(JsonString(it->value, "dll")))
            continue;
        std::string name = legacyName;
        if (searchType == kDeviceSearchByDeviceName && !name.empty() &&
            name[name.size() - 1] == ':')
            name.erase(name.size() - 1);
        if (!Matches(patternUtf8, 0, name, 0))
            continue;
        WString wideLegacy;
        WString wideKey;
        if (!host::Utf8ToUtf16(legacyName, wideLegacy) ||
            !host::Utf8ToUtf16(JsonString(it->value, "key"), wideKey))
            continue;
        info.legacyName = wideLegacy;
        info.deviceKey = wideKey;
        info.deviceName = u"$device\\" + wideLegacy.substr(0, wideLegacy.size() - 1);
        info.busName.clear();
        HandleEntry entry;
        entry.kind = kSearchHandle;
        entry.folder = device;
        entry.legacyName = legacyName;
        entry.deactivated = false;
        TraceDeviceCall(device, "find " + patternUtf8 + " -> " + legacyName);
        return NewHandle(entry);
    }
    TraceDeviceCall(device, "find " + patternUtf8 + " -> none");
    return kInvalidDeviceHandle;
}

DeviceHandle ActivateDeviceEx(const WString& registryKey) {
    const std::string device = host::DeviceRoot();
    if (device.empty())
        return kNullDeviceHandle;
    const std::string keyText = Narrow(registryKey);
    WString dll;
    WString prefix;
    uint32_t index = 0;
    const host::StreamDriver* driver = 0;
    if (!host::QueryRegistryString(registryKey, u"Dll", dll) ||
        !host::QueryRegistryString(registryKey, u"Prefix", prefix) ||
        !host::QueryRegistryDword(registryKey, u"Index", index) || index > 9 ||
        !(driver = DriverOfDll(dll)) || !EqualsIgnoringCase(prefix, driver->prefix) ||
        !DevicePathIsFile(dll)) {
        TraceDeviceCall(device, "activate " + keyText + " -> failed");
        return kNullDeviceHandle;
    }
    const std::string legacyName =
        Narrow(WString(driver->prefix)) + static_cast<char>('0' + index) + ":";

    std::lock_guard<std::mutex> lock(g_mutex);
    rapidjson::Document drivers;
    if (host::LoadJsonObject(device, kDriversFile, drivers) == host::kJsonFileBroken ||
        host::FindMemberIgnoringCase(drivers, legacyName)) {
        TraceDeviceCall(device, "activate " + keyText + " -> failed");
        return kNullDeviceHandle;
    }
    rapidjson::Document::AllocatorType& allocator = drivers.GetAllocator();
    const std::string dllText = Narrow(dll);
    rapidjson::Value record(rapidjson::kObjectType);
    record.AddMember("dll", rapidjson::Value(dllText.c_str(), allocator), allocator);
    record.AddMember("key", rapidjson::Value(keyText.c_str(), allocator), allocator);
    drivers.AddMember(rapidjson::Value(legacyName.c_str(), allocator), record, allocator);
    if (!host::SaveJsonObject(device, kDriversFile, drivers)) {
        TraceDeviceCall(device, "activate " + keyText + " -> failed");
        return kNullDeviceHandle;
    }
    TraceDeviceCall(device, "activate " + keyText + " -> " + legacyName);
    HandleEntry entry;
    entry.kind = kActivationHandle;
    entry.folder = device;
    entry.legacyName = legacyName;
    entry.deactivated = false;
    return NewHandle(entry);
}

bool DeactivateDevice(DeviceHandle handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    HandleEntry* entry = FindHandle(handle);
    if (!entry || entry->kind != kActivationHandle || entry->deactivated)
        return false;
    rapidjson::Document drivers;
    if (host::LoadJsonObject(entry->folder, kDriversFile, drivers) != host::kJsonFileLoaded)
        return false;
    bool removed = false;
    for (rapidjson::Value::MemberIterator it = drivers.MemberBegin(); it != drivers.MemberEnd();
         ++it) {
        const std::string name(it->name.GetString(), it->name.GetStringLength());
        if (EqualsIgnoringCase(name, entry->legacyName)) {
            drivers.RemoveMember(it);
            removed = true;
            break;
        }
    }
    if (!removed || !host::SaveJsonObject(entry->folder, kDriversFile, drivers))
        return false;
    entry->deactivated = true;
    TraceDeviceCall(entry->folder, "deactivate " + entry->legacyName);
    return true;
}

bool CloseHandle(DeviceHandle handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    HandleEntry* entry = FindHandle(handle);
    if (!entry)
        return false;
    static const char* const kKindNames[] = {"search", "activation", "device"};
    TraceDeviceCall(entry->folder,
                    std::string("close ") + kKindNames[entry->kind] + " " + entry->legacyName);
    g_handles.erase(handle);
    return true;
}

DeviceHandle CreateFile(const WString& deviceName, uint32_t access, uint32_t shareMode,
                        uint32_t creationDisposition) {
    (void)access;
    (void)shareMode;
    const std::string device = host::DeviceRoot();
    std::string name;
    if (device.empty() || creationDisposition != kOpenExisting ||
        !host::Utf16ToUtf8(deviceName, name))
        return kInvalidDeviceHandle;

    std::lock_guard<std::mutex> lock(g_mutex);
    rapidjson::Document drivers;
    if (host::LoadJsonObject(device, kDriversFile, drivers) == host::kJsonFileLoaded) {
        for (rapidjson::Value::ConstMemberIterator it = drivers.MemberBegin();
             it != drivers.MemberEnd(); ++it) {
            const std::string legacyName(it->name.GetString(), it->name.GetStringLength());
            if (!EqualsIgnoringCase(legacyName, name) || !it->value.IsObject())
                continue;
            const host::StreamDriver* driver = DriverOfDll(JsonString(it->value, "dll"));
            if (!driver)
                break;
            HandleEntry entry;
            entry.kind = kOpenDeviceHandle;
            entry.folder = device;
            entry.legacyName = legacyName;
            entry.deactivated = false;
            entry.device.reset(driver->open(device, legacyName));
            TraceDeviceCall(device, "open " + legacyName);
            return NewHandle(entry);
        }
    }
    TraceDeviceCall(device, "open " + name + " -> failed");
    return kInvalidDeviceHandle;
}

namespace {

// The open device behind a handle, with what is needed to trace it.
std::shared_ptr<host::OpenStreamDevice> DeviceOf(DeviceHandle handle, std::string& device,
                                                 std::string& name) {
    std::lock_guard<std::mutex> lock(g_mutex);
    HandleEntry* entry = FindHandle(handle);
    if (!entry || entry->kind != kOpenDeviceHandle)
        return std::shared_ptr<host::OpenStreamDevice>();
    device = entry->folder;
    name = entry->legacyName;
    return entry->device;
}

std::string Number(uint64_t value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string HexNumber(uint32_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

}  // namespace

uint32_t SetFilePointer(DeviceHandle device, int32_t distance, int32_t* distanceHigh,
                        uint32_t moveMethod) {
    std::string folder;
    std::string name;
    std::shared_ptr<host::OpenStreamDevice> open = DeviceOf(device, folder, name);
    if (!open)
        return kInvalidSetFilePointer;
    const uint32_t result = open->Seek(distance, distanceHigh, moveMethod);
    TraceDeviceCall(folder, name + " seek " + Number(static_cast<uint32_t>(distance)) + " " +
                                Number(moveMethod) +
                                (result == kInvalidSetFilePointer ? " -> failed" : ""));
    return result;
}

bool ReadFile(DeviceHandle device, uint8_t* buffer, uint32_t count, uint32_t* bytesRead) {
    if (bytesRead)
        *bytesRead = 0;
    std::string folder;
    std::string name;
    std::shared_ptr<host::OpenStreamDevice> open = DeviceOf(device, folder, name);
    if (!open || (count > 0 && !buffer))
        return false;
    uint32_t done = 0;
    const bool ok = open->Read(buffer, count, done);
    if (bytesRead)
        *bytesRead = done;
    TraceDeviceCall(
        folder, name + " read " + Number(count) + " -> " + Number(done) + (ok ? "" : " failed"));
    return ok;
}

bool WriteFile(DeviceHandle device, const uint8_t* data, uint32_t count, uint32_t* bytesWritten) {
    if (bytesWritten)
        *bytesWritten = 0;
    std::string folder;
    std::string name;
    std::shared_ptr<host::OpenStreamDevice> open = DeviceOf(device, folder, name);
    if (!open || (count > 0 && !data))
        return false;
    uint32_t done = 0;
    const bool ok = open->Write(data, count, done);
    if (bytesWritten)
        *bytesWritten = done;
    TraceDeviceCall(
        folder, name + " write " + Number(count) + " -> " + Number(done) + (ok ? "" : " failed"));
    return ok;
}

bool DeviceIoControl(DeviceHandle device, uint32_t code, const uint8_t* input, uint32_t inputSize,
                     uint8_t* output, uint32_t outputSize, uint32_t* bytesReturned) {
    if (bytesReturned)
        *bytesReturned = 0;
    std::string folder;
    std::string name;
    std::shared_ptr<host::OpenStreamDevice> open = DeviceOf(device, folder, name);
    if (!open || (inputSize > 0 && !input) || (outputSize > 0 && !output))
        return false;
    uint32_t returned = 0;
    const bool ok = open->IoControl(code, input, inputSize, output, outputSize, returned);
    if (bytesReturned)
        *bytesReturned = returned;
    TraceDeviceCall(folder, name + " ioctl " + HexNumber(code) + " in " + Number(inputSize) +
                                " out " + Number(outputSize) + (ok ? "" : " -> failed"));
    return ok;
}

}  // namespace platform
