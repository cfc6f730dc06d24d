// A property whose value is a bool, shown as "True" or "False" and saved as
// one byte (0 or 1).
#ifndef FWSETUP_PROPERTIES_BOOL_PROPERTY_H
#define FWSETUP_PROPERTIES_BOOL_PROPERTY_H

#include <atomic>

#include "properties/property.h"

// The text of a bool: false only for the word false in any capitalisation,
// true for every other text (the empty one, "0", "no" included). A text of 4
// or 5 bytes is lower-cased in place (ASCII letters only), so the caller's
// string changes.
bool ParseBool(NString& text);

// The value is one atomic byte: setters and readers on several threads need
// no lock, and of concurrent setters that change it only one notifies.
class BoolProperty : public Property {
  public:
    BoolProperty(bool value, NString id, NString name, NString groupId, NString groupName);

    // "True" or "False".
    NString ToString() const override;
    bool SetValueFromString(NString& text) override;
    bool SetValueFromStringNoEvent(NString& text) override;
    // Exactly one byte, 0 (false) or 1 (true); anything else is false and
    // changes nothing.
    bool SetValueFromArray(const uint8_t* data, uint32_t length) override;
    NString SaveValueToString() const override;
    // -1 for capacity 0; otherwise capacity bytes of zero with the value byte
    // first, result 1.
    int32_t SaveValueToArray(uint8_t* buffer, uint32_t capacity) const override;

    // A different value is stored and then notified; true in both cases.
    virtual bool SetValue(bool value);
    virtual bool SetValueNoEvent(bool value);
    virtual bool GetValue() const;

  private:
    std::atomic<bool> value_;
};

#endif
