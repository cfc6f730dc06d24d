// A property: one named, typed value of the printer's persistent configuration
// or status, with a fixed identity and listeners that hear of every change.
//
// Identity: id and groupId are GUID texts, compared byte for byte wherever
// properties are matched; name and groupName are their display names. The
// archive stores them as "Name", "NameString", "Group" and "GroupString".
#ifndef FWSETUP_PROPERTIES_PROPERTY_H
#define FWSETUP_PROPERTIES_PROPERTY_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/types.h"
#include "runtime/orvel_mutex.h"

class Property;

// Called with the property whose value changed, on the thread that changed it.
typedef std::function<void(std::shared_ptr<Property>)> ValueChangedListener;

// Properties are made with std::make_shared and handed around as
// std::shared_ptr<Property>. A property that has listeners must be owned by a
// std::shared_ptr when an event-raising setter changes its value: the
// listeners receive a shared pointer to it.
class Property : public std::enable_shared_from_this<Property> {
  public:
    Property(NString id, NString name, NString groupId, NString groupName);
    virtual ~Property();

    // The value as text.
    virtual NString ToString() const = 0;
    // Set from text; the event-raising form notifies the listeners when the
    // value changed. The text is the caller's and may be changed (BoolProperty
    // lower-cases it, see ParseBool).
    virtual bool SetValueFromString(NString& text) = 0;
    virtual bool SetValueFromStringNoEvent(NString& text) = 0;
    // Set from the bytes of SaveValueToArray; raises the change event.
    virtual bool SetValueFromArray(const uint8_t* data, uint32_t length) = 0;
    // The text the archive stores.
    virtual NString SaveValueToString() const = 0;
    // Bytes written to buffer, or -1 when capacity is too small (the buffer is
    // then untouched). Otherwise all capacity bytes are written.
    virtual int32_t SaveValueToArray(uint8_t* buffer, uint32_t capacity) const = 0;
    // Calls every listener in the order added, then every keyed listener in
    // ascending key order, on the calling thread and without any lock held.
    // The property stays alive until the last listener has returned.
    virtual void NotifyValueChanged();

    const NString& Id() const { return id_; }
    const NString& Name() const { return name_; }
    const NString& GroupId() const { return groupId_; }
    const NString& GroupName() const { return groupName_; }

    // Appends a listener for the life of the property; an empty one is not
    // added. A listener added while a notification runs hears from the next
    // change on.
    void AddValueChangedListener(ValueChangedListener listener);
    // A listener under key, called after the plain ones in key order. False
    // when key is taken or the listener is empty.
    bool AddKeyedListener(const NString& key, ValueChangedListener listener);
    // False when no listener has key. Once it returns, this thread's
    // notifications no longer call the listener, also one already under way;
    // a notification on another thread may still be calling it at that moment.
    bool RemoveKeyedListener(const NString& key);

  private:
    Property(const Property&);
    Property& operator=(const Property&);

    struct KeyedListener {
        explicit KeyedListener(ValueChangedListener l) : listener(std::move(l)), removed(false) {}
        ValueChangedListener listener;
        std::atomic<bool> removed;
    };
    // Shared, so that replacing a set copies pointers, never the listeners.
    typedef std::vector<std::shared_ptr<const ValueChangedListener> > ListenerList;
    typedef std::map<NString, std::shared_ptr<KeyedListener> > KeyedListenerMap;

    const NString id_;
    const NString name_;
    const NString groupId_;
    const NString groupName_;
    // Both sets are replaced, never changed in place, so that a notification
    // walks the set it took while listeners are added or removed. Null while
    // there are none.
    std::shared_ptr<const ListenerList> listeners_;
    // Guards listeners_ and keyedListeners_; never held while a listener runs.
    OrvelMutex listenerLock_;
    std::shared_ptr<const KeyedListenerMap> keyedListeners_;
};

#endif
