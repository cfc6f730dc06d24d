// Host side of the registry: keys and values in DEVICE/hw/registry.json (see
// registry_store.h for the file's form). Every change is written to the file at
// once, so a flush has nothing left to do; a file that cannot be parsed is never
// overwritten: every call on it fails.
#include "platform/registry.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/host/device_root.h"
#include "platform/host/host_text.h"
#include "platform/host/json_file.h"
#include "platform/host/registry_store.h"

namespace platform {

namespace host {
const char kLocalMachineName[] = "HKEY_LOCAL_MACHINE";
}  // namespace host

namespace {

using host::EqualsIgnoringCase;
using host::FindMemberIgnoringCase;

// ERROR_BADDB: the registry file is there but cannot be read.
const long kErrorBadDb = 1009;
// Longest key name the platform accepts, in characters.
const size_t kMaxKeyLength = 255;

const char kRegistryFile[] = "hw/registry.json";

struct OpenKey {
    std::string device;   // the device folder the key was opened on
    std::string keyName;  // full key name as stored in the file
};

std::mutex g_mutex;
std::map<intptr_t, OpenKey> g_keys;
intptr_t g_nextKey = 0x2000;

bool SubKeyIsValid(const WString& subKey) {
    if (subKey.empty() || subKey.size() > kMaxKeyLength)
        return false;
    if (subKey[0] == u'\\' || subKey[subKey.size() - 1] == u'\\')
        return false;
    for (size_t i = 0; i < subKey.size(); ++i) {
        if (subKey[i] == 0)
            return false;
        if (subKey[i] == u'\\' && i + 1 < subKey.size() && subKey[i + 1] == u'\\')
            return false;
    }
    return true;
}

std::string Hex(const uint8_t* data, uint32_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint32_t i = 0; i < size; ++i) {
        text.push_back(kDigits[data[i] >> 4]);
        text.push_back(kDigits[data[i] & 0x0F]);
    }
    return text;
}

// REG_SZ data that reads back as one clean text: whole UTF-16 units, one
// terminating zero at the end and none before it.
bool CleanText(const uint8_t* data, uint32_t size, std::string& utf8) {
    if (size < 2 || size % 2 != 0)
        return false;
    WString text;
    for (uint32_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (i + 2 == size) {
            if (unit != 0)
                return false;
        } else {
            if (unit == 0)
                return false;
            text.push_back(unit);
        }
    }
    return host::Utf16ToUtf8(text, utf8);
}

// The JSON form of one value (see registry_store.h).
void MakeValue(uint32_t type, const uint8_t* data, uint32_t size,
               rapidjson::Document::AllocatorType& allocator, rapidjson::Value& value) {
    std::string text;
    if (type == kRegSz && CleanText(data, size, text)) {
        value.SetString(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
        return;
    }
    if (type == kRegDword && size == 4) {
        const uint32_t number =
            static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
            (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
        value.SetUint(number);
        return;
    }
    const std::string hex = Hex(data, size);
    value.SetObject();
    value.AddMember("type", rapidjson::Value(type), allocator);
    value.AddMember(
        "data",
        rapidjson::Value(hex.c_str(), static_cast<rapidjson::SizeType>(hex.size()), allocator),
        allocator);
}

bool LookUpKey(const OpenKey*& key, RegKey handle) {
    std::map<intptr_t, OpenKey>::const_iterator it = g_keys.find(handle);
    if (it == g_keys.end())
        return false;
    key = &it->second;
    return true;
}

// The value name of a key under HKEY_LOCAL_MACHINE in the current device's registry.
const rapidjson::Value* FindValue(rapidjson::Document& document, const WString& subKey,
                                  const WString& name) {
    std::string subKeyUtf8;
    std::string nameUtf8;
    if (!host::Utf16ToUtf8(subKey, subKeyUtf8) || !host::Utf16ToUtf8(name, nameUtf8))
        return 0;
    const std::string device = host::DeviceRoot();
    if (device.empty() ||
        host::LoadJsonObject(device, kRegistryFile, document) != host::kJsonFileLoaded)
        return 0;
    rapidjson::Value* key =
        FindMemberIgnoringCase(document, std::string(host::kLocalMachineName) + "\\" + subKeyUtf8);
    if (!key || !key->IsObject())
        return 0;
    return FindMemberIgnoringCase(*key, nameUtf8);
}

}  // namespace

long RegCreateKeyEx(RegKey root, const WString& subKey, RegKey& key, bool* created) {
    key = kNullRegKey;
    if (root != kHKeyLocalMachine || !SubKeyIsValid(subKey))
        return kErrorInvalidParameter;
    std::string subKeyUtf8;
    if (!host::Utf16ToUtf8(subKey, subKeyUtf8))
        return kErrorInvalidParameter;
    const std::string device = host::DeviceRoot();
    if (device.empty())
        return kErrorFileNotFound;

    std::lock_guard<std::mutex> lock(g_mutex);
    rapidjson::Document document;
    if (host::LoadJsonObject(device, kRegistryFile, document) == host::kJsonFileBroken)
        return kErrorBadDb;
    const std::string wanted = std::string(host::kLocalMachineName) + "\\" + subKeyUtf8;
    std::string keyName = wanted;
    bool made = false;
    rapidjson::Value* existing = 0;
    for (rapidjson::Value::MemberIterator it = document.MemberBegin(); it != document.MemberEnd();
         ++it) {
        const std::string name(it->name.GetString(), it->name.GetStringLength());
        if (EqualsIgnoringCase(name, wanted)) {
            keyName = name;
            existing = &it->value;
            break;
        }
    }
    if (!existing) {
        document.AddMember(
            rapidjson::Value(wanted.c_str(), static_cast<rapidjson::SizeType>(wanted.size()),
                             document.GetAllocator()),
            rapidjson::Value(rapidjson::kObjectType), document.GetAllocator());
        if (!host::SaveJsonObject(device, kRegistryFile, document))
            return kErrorAccessDenied;
        made = true;
    } else if (!existing->IsObject()) {
        return kErrorBadDb;
    }
    OpenKey open;
    open.device = device;
    open.keyName = keyName;
    const intptr_t handle = g_nextKey;
    g_nextKey += 4;
    g_keys[handle] = open;
    key = static_cast<RegKey>(handle);
    if (created)
        *created = made;
    return kErrorSuccess;
}

long RegSetValueEx(RegKey key, const WString& name, uint32_t type, const uint8_t* data,
                   uint32_t size) {
    std::string nameUtf8;
    if (!host::Utf16ToUtf8(name, nameUtf8) || (size > 0 && !data))
        return kErrorInvalidParameter;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == 0)
            return kErrorInvalidParameter;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    const OpenKey* open = 0;
    if (!LookUpKey(open, key))
        return kErrorInvalidHandle;
    rapidjson::Document document;
    if (host::LoadJsonObject(open->device, kRegistryFile, document) == host::kJsonFileBroken)
        return kErrorBadDb;
    rapidjson::Document::AllocatorType& allocator = document.GetAllocator();
    rapidjson::Value* values = FindMemberIgnoringCase(document, open->keyName);
    if (!values) {
        // The key went away behind our back: it comes back with this value.
        document.AddMember(
            rapidjson::Value(open->keyName.c_str(),
                             static_cast<rapidjson::SizeType>(open->keyName.size()), allocator),
            rapidjson::Value(rapidjson::kObjectType), allocator);
        values = FindMemberIgnoringCase(document, open->keyName);
    }
    if (!values || !values->IsObject())
        return kErrorBadDb;
    rapidjson::Value value;
    MakeValue(type, data, size, allocator, value);
    rapidjson::Value* existing = FindMemberIgnoringCase(*values, nameUtf8);
    if (existing) {
        existing->Swap(value);
    } else {
        values->AddMember(
            rapidjson::Value(nameUtf8.c_str(), static_cast<rapidjson::SizeType>(nameUtf8.size()),
                             allocator),
            value, allocator);
    }
    return host::SaveJsonObject(open->device, kRegistryFile, document) ? kErrorSuccess
                                                                       : kErrorAccessDenied;
}

long RegFlushKey(RegKey key) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const OpenKey* open = 0;
    return LookUpKey(open, key) ? kErrorSuccess : kErrorInvalidHandle;
}

long RegCloseKey(RegKey key) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_keys.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
}

namespace host {

bool QueryRegistryString(const WString& subKey, const WString& name, WString& value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    rapidjson::Document document;
    const rapidjson::Value* found = FindValue(document, subKey, name);
    if (!found || !found->IsString())
        return false;
    return Utf8ToUtf16(std::string(found->GetString(), found->GetStringLength()), value);
}

bool QueryRegistryDword(const WString& subKey, const WString& name, uint32_t& value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    rapidjson::Document document;
    const rapidjson::Value* found = FindValue(document, subKey, name);
    if (!found || !found->IsUint())
        return false;
    value = found->GetUint();
    return true;
}

}  // namespace host
}  // namespace platform
