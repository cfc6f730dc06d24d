#include "properties/json_property_archiver.h"

#include <cstring>
#include <mutex>

namespace {

const char kProperties[] = "Properties";
const char kName[] = "Name";
const char kNameString[] = "NameString";
const char kGroup[] = "Group";
const char kGroupString[] = "GroupString";
const char kValue[] = "Value";

typedef rapidjson::Document::AllocatorType Allocator;

// A copy of text up to its first zero byte.
rapidjson::Value Text(const char* text, Allocator& allocator) {
    return rapidjson::Value(text, static_cast<rapidjson::SizeType>(std::strlen(text)), allocator);
}

rapidjson::Value Text(const NString& text, Allocator& allocator) {
    return Text(text.c_str(), allocator);
}

// The member name of object when it is a string, else null.
const rapidjson::Value* StringMember(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject())
        return 0;
    rapidjson::Value::ConstMemberIterator member = object.FindMember(name);
    if (member == object.MemberEnd() || !member->value.IsString())
        return 0;
    return &member->value;
}

bool SameBytes(const rapidjson::Value& text, const char* bytes, size_t length) {
    return text.GetStringLength() == length && std::memcmp(text.GetString(), bytes, length) == 0;
}

// The first element of entries whose "Name" and "Group" equal name and group.
rapidjson::Value* FindByIdentity(rapidjson::Value& entries, const char* name, size_t nameLength,
                                 const char* group, size_t groupLength) {
    for (rapidjson::Value::ValueIterator entry = entries.Begin(); entry != entries.End(); ++entry) {
        const rapidjson::Value* entryName = StringMember(*entry, kName);
        const rapidjson::Value* entryGroup = StringMember(*entry, kGroup);
        if (entryName && entryGroup && SameBytes(*entryName, name, nameLength) &&
            SameBytes(*entryGroup, group, groupLength)) {
            return &*entry;
        }
    }
    return 0;
}

// The entry's "Value" becomes a copy of text; the member is added when missing.
void SetValueMember(rapidjson::Value& entry, const char* text, Allocator& allocator) {
    rapidjson::Value::MemberIterator value = entry.FindMember(kValue);
    if (value == entry.MemberEnd()) {
        entry.AddMember(rapidjson::StringRef(kValue), Text(text, allocator), allocator);
    } else {
        value->value = Text(text, allocator);
    }
}

}  // namespace

JsonPropertyArchiver::JsonPropertyArchiver(const WString& path,
                                           std::shared_ptr<ThreadFactory> factory, int32_t priority)
    : PropertyArchiverBase(path, factory, priority) {}

JsonPropertyArchiver::~JsonPropertyArchiver() {
    StopSaver();
}

void JsonPropertyArchiver::EnsurePropertiesArray() {
    Document& document = GetDocument();
    if (!document.IsObject())
        document.SetObject();
    rapidjson::Value::MemberIterator entries = document.FindMember(kProperties);
    if (entries == document.MemberEnd()) {
        document.AddMember(rapidjson::StringRef(kProperties),
                           rapidjson::Value(rapidjson::kArrayType), document.GetAllocator());
    } else if (!entries->value.IsArray()) {
        entries->value.SetArray();
    }
}

rapidjson::Value& JsonPropertyArchiver::Entries() {
    EnsurePropertiesArray();
    return GetDocument().FindMember(kProperties)->value;
}

rapidjson::Value* JsonPropertyArchiver::FindEntry(const Property& property,
                                                  rapidjson::Value& entries) {
    if (!entries.IsArray())
        return 0;
    return FindByIdentity(entries, property.Id().data(), property.Id().size(),
                          property.GroupId().data(), property.GroupId().size());
}

void JsonPropertyArchiver::FillIdentity(const Property& property, rapidjson::Value& entry) {
    if (!entry.IsObject())
        return;
    Allocator& allocator = GetDocument().GetAllocator();
    entry.AddMember(rapidjson::StringRef(kName), Text(property.Id(), allocator), allocator);
    entry.AddMember(rapidjson::StringRef(kNameString), Text(property.Name(), allocator), allocator);
    entry.AddMember(rapidjson::StringRef(kGroup), Text(property.GroupId(), allocator), allocator);
    entry.AddMember(rapidjson::StringRef(kGroupString), Text(property.GroupName(), allocator),
                    allocator);
}

void JsonPropertyArchiver::MergeFrom(PropertyArchiverBase& other) {
    if (&other == this)
        return;
    Document copy;
    other.CopyDocument(copy);
    if (!copy.IsObject())
        return;
    rapidjson::Value::MemberIterator entries = copy.FindMember(kProperties);
    if (entries == copy.MemberEnd() || !entries->value.IsArray())
        return;
    for (rapidjson::Value::ValueIterator entry = entries->value.Begin();
         entry != entries->value.End(); ++entry) {
        UpdateEntry(*entry);
    }
}

bool JsonPropertyArchiver::StoreProperty(std::shared_ptr<Property> property) {
    if (!property)
        return false;
    // The property's own lock is not taken under the archive's.
    const NString text = property->SaveValueToString();
    std::lock_guard<OrvelMutex> hold(archiveLock_);
    rapidjson::Value& entries = Entries();
    Allocator& allocator = GetDocument().GetAllocator();
    rapidjson::Value* entry = FindEntry(*property, entries);
    if (entry) {
        SetValueMember(*entry, text.c_str(), allocator);
    } else {
        rapidjson::Value added(rapidjson::kObjectType);
        FillIdentity(*property, added);
        added.AddMember(rapidjson::StringRef(kValue), Text(text, allocator), allocator);
        entries.PushBack(added, allocator);
    }
    RequestSave();
    return true;
}

bool JsonPropertyArchiver::UpdateEntry(const rapidjson::Value& entry) {
    std::lock_guard<OrvelMutex> hold(archiveLock_);
    rapidjson::Value& entries = Entries();
    const rapidjson::Value* name = StringMember(entry, kName);
    const rapidjson::Value* group = StringMember(entry, kGroup);
    const rapidjson::Value* value = StringMember(entry, kValue);
    bool found = false;
    if (name && group && value) {
        rapidjson::Value* target =
            FindByIdentity(entries, name->GetString(), name->GetStringLength(), group->GetString(),
                           group->GetStringLength());
        if (target) {
            SetValueMember(*target, value->GetString(), GetDocument().GetAllocator());
            found = true;
        }
    }
    RequestSave();
    return found;
}

bool JsonPropertyArchiver::GetPropertyValue(std::shared_ptr<Property> property, NString& text) {
    text.clear();
    if (!property)
        return false;
    std::lock_guard<OrvelMutex> hold(archiveLock_);
    const rapidjson::Value* entry = FindEntry(*property, Entries());
    if (!entry)
        return false;
    const rapidjson::Value* value = StringMember(*entry, kValue);
    if (value)
        text.assign(value->GetString(), value->GetStringLength());
    return true;
}

void JsonPropertyArchiver::AddEntry(const NString& id, const NString& groupId,
                                    const NString& groupName, const NString& name,
                                    const NString& value) {
    std::lock_guard<OrvelMutex> hold(archiveLock_);
    rapidjson::Value& entries = Entries();
    Allocator& allocator = GetDocument().GetAllocator();
    rapidjson::Value added(rapidjson::kObjectType);
    added.AddMember(rapidjson::StringRef(kName), Text(id, allocator), allocator);
    added.AddMember(rapidjson::StringRef(kNameString), Text(name, allocator), allocator);
    added.AddMember(rapidjson::StringRef(kGroup), Text(groupId, allocator), allocator);
    added.AddMember(rapidjson::StringRef(kGroupString), Text(groupName, allocator), allocator);
    added.AddMember(rapidjson::StringRef(kValue), Text(value, allocator), allocator);
    entries.PushBack(added, allocator);
    RequestSave();
}
