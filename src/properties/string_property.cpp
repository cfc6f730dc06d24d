#include "properties/string_property.h"

#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

StringProperty::StringProperty(NString value, NString id, NString name, NString groupId,
                               NString groupName)
    : Property(std::move(id), std::move(name), std::move(groupId), std::move(groupName)),
      value_(std::move(value)) {}

NString StringProperty::ToString() const {
    std::lock_guard<OrvelMutex> hold(valueLock_);
    return value_;
}

NString StringProperty::GetValue() const {
    std::lock_guard<OrvelMutex> hold(valueLock_);
    return value_;
}

NString StringProperty::SaveValueToString() const {
    return ToString();
}

bool StringProperty::SetValue(NString value) {
    {
        std::lock_guard<OrvelMutex> hold(valueLock_);
        if (value == value_)
            return true;
        // The old value leaves with the argument, after the lock.
        value_.swap(value);
    }
    NotifyValueChanged();
    return true;
}

bool StringProperty::SetValueNoEvent(NString value) {
    std::lock_guard<OrvelMutex> hold(valueLock_);
    value_.swap(value);
    return true;
}

bool StringProperty::SetValueFromString(NString& text) {
    return SetValue(text);
}

bool StringProperty::SetValueFromStringNoEvent(NString& text) {
    return SetValueNoEvent(text);
}

bool StringProperty::SetValueFromArray(const uint8_t* data, uint32_t length) {
    if (length == 0)
        return SetValue(NString());
    if (data == nullptr)
        return false;
    return SetValue(NString(reinterpret_cast<const char*>(data), length));
}

int32_t StringProperty::SaveValueToArray(uint8_t* buffer, uint32_t capacity) const {
    std::lock_guard<OrvelMutex> hold(valueLock_);
    const size_t n = value_.size();
    if (capacity < n || n > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        return -1;
    if (capacity == 0)
        return 0;
    if (buffer == nullptr)
        return -1;
    std::memset(buffer, 0, capacity);
    std::memcpy(buffer, value_.data(), n);
    return static_cast<int32_t>(n);
}
