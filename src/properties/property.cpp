#include "properties/property.h"

#include <mutex>
#include <utility>

Property::Property(NString id, NString name, NString groupId, NString groupName)
    : id_(std::move(id)),
      name_(std::move(name)),
      groupId_(std::move(groupId)),
      groupName_(std::move(groupName)) {}

Property::~Property() {}

void Property::AddValueChangedListener(ValueChangedListener listener) {
    if (!listener)
        return;
    std::shared_ptr<const ValueChangedListener> added =
        std::make_shared<const ValueChangedListener>(std::move(listener));
    std::shared_ptr<const ListenerList> previous;  // released after the lock
    std::lock_guard<OrvelMutex> hold(listenerLock_);
    previous = listeners_;
    std::shared_ptr<ListenerList> next =
        previous ? std::make_shared<ListenerList>(*previous) : std::make_shared<ListenerList>();
    next->push_back(added);
    listeners_ = next;
}

bool Property::AddKeyedListener(const NString& key, ValueChangedListener listener) {
    if (!listener)
        return false;
    std::shared_ptr<KeyedListener> added = std::make_shared<KeyedListener>(std::move(listener));
    std::shared_ptr<const KeyedListenerMap> previous;  // released after the lock
    std::lock_guard<OrvelMutex> hold(listenerLock_);
    if (keyedListeners_ && keyedListeners_->count(key) != 0)
        return false;
    previous = keyedListeners_;
    std::shared_ptr<KeyedListenerMap> next = previous
                                                 ? std::make_shared<KeyedListenerMap>(*previous)
                                                 : std::make_shared<KeyedListenerMap>();
    next->insert(std::make_pair(key, added));
    keyedListeners_ = next;
    return true;
}

bool Property::RemoveKeyedListener(const NString& key) {
    // The set and the listener die after the lock is released: a listener's
    // captures may do anything in their destructors.
    std::shared_ptr<const KeyedListenerMap> previous;
    std::lock_guard<OrvelMutex> hold(listenerLock_);
    if (!keyedListeners_)
        return false;
    KeyedListenerMap::const_iterator found = keyedListeners_->find(key);
    if (found == keyedListeners_->end())
        return false;
    found->second->removed = true;
    previous = keyedListeners_;
    if (keyedListeners_->size() == 1) {
        keyedListeners_.reset();
    } else {
        std::shared_ptr<KeyedListenerMap> next =
            std::make_shared<KeyedListenerMap>(*keyedListeners_);
        next->erase(key);
        keyedListeners_ = next;
    }
    return true;
}

void Property::NotifyValueChanged() {
    std::shared_ptr<const ListenerList> listeners;
    std::shared_ptr<const KeyedListenerMap> keyed;
    {
        std::lock_guard<OrvelMutex> hold(listenerLock_);
        listeners = listeners_;
        keyed = keyedListeners_;
    }
    if (!listeners && !keyed)
        return;
    // One reference for the whole walk: a listener may drop every other owner.
    const std::shared_ptr<Property> self = shared_from_this();
    if (listeners) {
        for (ListenerList::const_iterator it = listeners->begin(); it != listeners->end(); ++it)
            (**it)(self);
    }
    if (keyed) {
        for (KeyedListenerMap::const_iterator it = keyed->begin(); it != keyed->end(); ++it) {
            if (!it->second->removed)
                it->second->listener(self);
        }
    }
}
