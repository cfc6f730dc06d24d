// A property whose value is a narrow string, stored and shown as it is.
#ifndef FWSETUP_PROPERTIES_STRING_PROPERTY_H
#define FWSETUP_PROPERTIES_STRING_PROPERTY_H

#include "properties/property.h"

// Every read and write of the value takes valueLock; the listeners run after
// it has been released, so they may read or set the property again.
class StringProperty : public Property {
  public:
    StringProperty(NString value, NString id, NString name, NString groupId, NString groupName);

    NString ToString() const override;
    bool SetValueFromString(NString& text) override;
    bool SetValueFromStringNoEvent(NString& text) override;
    // The value becomes exactly length bytes of data, zero bytes included.
    // False only for null data with a length above 0 (nothing changes).
    bool SetValueFromArray(const uint8_t* data, uint32_t length) override;
    NString SaveValueToString() const override;
    // With capacity at least the length n of the value: capacity bytes of
    // zero, the n value bytes at the start, result n. No terminating zero
    // beyond the zero fill, so capacity n holds the bytes only.
    int32_t SaveValueToArray(uint8_t* buffer, uint32_t capacity) const override;

    // An equal value changes nothing and notifies nobody; a different one
    // replaces the value and then notifies. True in both cases.
    virtual bool SetValue(NString value);
    virtual NString GetValue() const;
    // Replaces the value without comparing and without notification; true.
    bool SetValueNoEvent(NString value);

  private:
    mutable OrvelMutex valueLock_;
    NString value_;
};

#endif
