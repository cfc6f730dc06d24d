#include "properties/bool_property.h"

#include <cstring>
#include <utility>

bool ParseBool(NString& text) {
    if (text.size() != 4 && text.size() != 5)
        return true;
    for (NString::iterator it = text.begin(); it != text.end(); ++it) {
        if (*it >= 'A' && *it <= 'Z')
            *it = static_cast<char>(*it - 'A' + 'a');
    }
    return text != "false";
}

BoolProperty::BoolProperty(bool value, NString id, NString name, NString groupId, NString groupName)
    : Property(std::move(id), std::move(name), std::move(groupId), std::move(groupName)),
      value_(value) {}

bool BoolProperty::GetValue() const {
    return value_.load();
}

NString BoolProperty::ToString() const {
    return GetValue() ? "True" : "False";
}

NString BoolProperty::SaveValueToString() const {
    return ToString();
}

bool BoolProperty::SetValue(bool value) {
    if (value_.exchange(value) != value)
        NotifyValueChanged();
    return true;
}

bool BoolProperty::SetValueNoEvent(bool value) {
    value_.store(value);
    return true;
}

bool BoolProperty::SetValueFromString(NString& text) {
    return SetValue(ParseBool(text));
}

bool BoolProperty::SetValueFromStringNoEvent(NString& text) {
    return SetValueNoEvent(ParseBool(text));
}

bool BoolProperty::SetValueFromArray(const uint8_t* data, uint32_t length) {
    if (length != 1 || data == nullptr || data[0] > 1)
        return false;
    return SetValue(data[0] == 1);
}

int32_t BoolProperty::SaveValueToArray(uint8_t* buffer, uint32_t capacity) const {
    if (capacity == 0 || buffer == nullptr)
        return -1;
    std::memset(buffer, 0, capacity);
    buffer[0] = GetValue() ? 1 : 0;
    return 1;
}
