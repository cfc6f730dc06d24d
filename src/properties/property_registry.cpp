#include "properties/property_registry.h"

#include <mutex>
#include <utility>

#include "fileutil/string_operation.h"

namespace {

// Whether the property's key splits back into its own group id and id, so
// that the key names it alone and its group key names its group.
bool KeyNamesProperty(const Property& property) {
    if (property.Id().empty())
        return false;
    const NString key = MakeKey(property.Id(), property.GroupId());
    return GroupPart(key) == property.GroupId() && NamePart(key) == property.Id();
}

}  // namespace

PropertyRegistry::PropertyRegistry() {}

PropertyRegistry::~PropertyRegistry() {}

bool PropertyRegistry::Register(std::shared_ptr<Property> property) {
    if (!property || !KeyNamesProperty(*property))
        return false;
    const NString key = MakeKey(property->Id(), property->GroupId());
    const NString groupKey = MakeKey(NString(), property->GroupId());
    std::lock_guard<OrvelMutex> holdIndex(indexLock_);
    if (index_.find(key) != index_.end())
        return false;
    index_.insert(std::make_pair(key, property));
    index_.insert(std::make_pair(groupKey, property));
    std::lock_guard<OrvelMutex> holdGroups(groupsLock_);
    groups_.insert(property->GroupId());
    return true;
}

std::shared_ptr<Property> PropertyRegistry::Find(NString id, NString groupId) const {
    if (id.empty())
        return std::shared_ptr<Property>();
    const NString key = MakeKey(id, groupId);
    std::lock_guard<OrvelMutex> hold(indexLock_);
    PropertyIndex::const_iterator found = index_.find(key);
    if (found == index_.end())
        return std::shared_ptr<Property>();
    return found->second;
}

void PropertyRegistry::ListGroup(PropertyList& out, const NString& groupId) const {
    const NString groupKey = MakeKey(NString(), groupId);
    std::lock_guard<OrvelMutex> hold(indexLock_);
    std::pair<PropertyIndex::const_iterator, PropertyIndex::const_iterator> range =
        index_.equal_range(groupKey);
    for (PropertyIndex::const_iterator it = range.first; it != range.second; ++it)
        out.push_back(it->second);
}

void PropertyRegistry::ListAll(PropertyList& out) const {
    std::lock_guard<OrvelMutex> hold(indexLock_);
    for (PropertyIndex::const_iterator it = index_.begin(); it != index_.end(); ++it) {
        if (!IsGroupKey(it->first))
            out.push_back(it->second);
    }
}

void PropertyRegistry::ListGroups(std::vector<NString>& out) const {
    std::lock_guard<OrvelMutex> hold(groupsLock_);
    out.insert(out.end(), groups_.begin(), groups_.end());
}

void PropertyRegistry::Unregister(const NString& key) {
    // A group key would find a group entry here, not a property's own one.
    if (IsGroupKey(key))
        return;
    PropertyList released;  // dies after the lock is released
    std::lock_guard<OrvelMutex> hold(indexLock_);
    PropertyIndex::iterator found = index_.find(key);
    if (found == index_.end())
        return;
    std::pair<PropertyIndex::iterator, PropertyIndex::iterator> group =
        index_.equal_range(MakeKey(NString(), GroupPart(key)));
    for (PropertyIndex::iterator it = group.first; it != group.second; ++it) {
        if (it->second == found->second) {
            released.push_back(it->second);
            index_.erase(it);
            break;
        }
    }
    released.push_back(found->second);
    index_.erase(found);
}

void PropertyRegistry::UnregisterGroup(const NString& groupKey) {
    const NString groupId = GroupPart(groupKey);
    {
        std::lock_guard<OrvelMutex> hold(groupsLock_);
        groups_.erase(groupId);
    }
    const NString entriesKey = MakeKey(NString(), groupId);
    PropertyList released;  // dies after the lock is released
    std::lock_guard<OrvelMutex> hold(indexLock_);
    for (;;) {
        PropertyIndex::iterator entry = index_.lower_bound(entriesKey);
        if (entry == index_.end() || entry->first != entriesKey)
            break;
        const std::shared_ptr<Property> property = entry->second;
        released.push_back(property);
        PropertyIndex::iterator own = index_.find(MakeKey(property->Id(), property->GroupId()));
        if (own != index_.end())
            index_.erase(own);
        index_.erase(entry);
    }
}
