// Conversions between wide text (16-bit code units) and narrow text (bytes),
// case changes, and the colon-qualified keys of the property registry.
//
// None of these fails or throws for any input; wide text is not validated, so
// unpaired surrogates pass through.
#ifndef FWSETUP_FILEUTIL_STRING_OPERATION_H
#define FWSETUP_FILEUTIL_STRING_OPERATION_H

#include "platform/types.h"

namespace StringOperation {

// The wide/narrow converter of the default locale. The module never changes the
// locale, and in the default one every byte is the code unit of the same value
// (0 to 255). One converter is made per conversion and destroyed afterwards.
class codecvt {
  public:
    codecvt() {}
    ~codecvt() {}
    // Narrow to wide: as many code units as bytes.
    WString in(const NString& narrow) const;
};

// UTF-8 encoding of every code unit on its own, in order, without a byte-order
// mark: surrogate halves become three-byte sequences each, a zero unit a zero byte.
NString ToUtf8(const WString& wide);
// Narrow text decoded with codecvt in the default locale.
WString ToWide(const NString& narrow);
// In place: a to z become A to Z; every other byte stays.
void ToUpper(NString& text);
// In place: A to Z become a to z; every other code unit stays.
void ToLower(WString& text);

}  // namespace StringOperation

// group + ":" + name; the name alone when the group is empty.
NString MakeKey(const NString& name, const NString& group);
// The text after the first ":"; the whole key when it has none.
NString NamePart(const NString& key);
// The text before the first ":"; empty when the key has none.
NString GroupPart(const NString& key);
// True when NamePart of key is empty (a key ending at its first ":", or the empty key).
bool IsGroupKey(const NString& key);

#endif
