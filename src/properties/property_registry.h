// The process's directory of properties: indexed by group id and id, listed by
// group, removed again.
//
// Keys: a property's key is MakeKey(id, groupId) ("groupId:id", or the id
// alone for an empty group id) and its group key MakeKey("", groupId)
// ("groupId:", or the empty text). Keys compare byte for byte.
#ifndef FWSETUP_PROPERTIES_PROPERTY_REGISTRY_H
#define FWSETUP_PROPERTIES_PROPERTY_REGISTRY_H

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/types.h"
#include "properties/property.h"
#include "runtime/orvel_mutex.h"

// Each registered property is held twice: under its key and under its group
// key, the group entries of one group in registration order.
typedef std::multimap<NString, std::shared_ptr<Property> > PropertyIndex;
typedef std::vector<std::shared_ptr<Property> > PropertyList;

// Lock order: indexLock before groupsLock. No lock is held while a property
// that a removal released dies. The operations copy shared pointers under the
// locks; callers go on using the properties afterwards.
class PropertyRegistry {
  public:
    PropertyRegistry();
    virtual ~PropertyRegistry();

    // False, changing nothing, when the key is already present, and for a
    // property the keys cannot name: a null one, an empty id, a group id with
    // ":", or an empty group id with an id holding ":".
    virtual bool Register(std::shared_ptr<Property> property);
    // Null when id is empty or nothing is registered under MakeKey(id, groupId).
    virtual std::shared_ptr<Property> Find(NString id, NString groupId) const;
    // Appends the properties of the group in registration order.
    virtual void ListGroup(PropertyList& out, const NString& groupId) const;
    // Appends every registered property once, in key order.
    virtual void ListAll(PropertyList& out) const;
    // Appends every group id registered since its last UnregisterGroup, in order.
    virtual void ListGroups(std::vector<NString>& out) const;
    // Removes the property registered under a property key; the group stays
    // listed. A group key or an unknown key changes nothing.
    virtual void Unregister(const NString& key);
    // Removes the group GroupPart(groupKey) and every property of it.
    virtual void UnregisterGroup(const NString& groupKey);

  protected:
    PropertyIndex index_;
    mutable OrvelMutex indexLock_;
    std::set<NString> groups_;
    mutable OrvelMutex groupsLock_;

  private:
    PropertyRegistry(const PropertyRegistry&);
    PropertyRegistry& operator=(const PropertyRegistry&);
};

#endif
