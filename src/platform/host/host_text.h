// Host only: small helpers the host layer shares for names and the small text
// files it keeps under DEVICE/hw.
#ifndef FWSETUP_PLATFORM_HOST_HOST_TEXT_H
#define FWSETUP_PLATFORM_HOST_HOST_TEXT_H

#include <cstddef>
#include <string>

#include "platform/types.h"

namespace platform {
namespace host {

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char16_t AsciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// ASCII case-insensitive comparison of UTF-8 or UTF-16 texts, as the printer
// matches names.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);
bool EqualsIgnoringCase(const WString& a, const WString& b);

// The text without leading and trailing blanks, tabs and line ends.
std::string TrimAsciiSpace(const std::string& text);

// Reads a regular file of at most limit bytes, never following a symbolic link;
// false when it cannot be read or is longer.
bool ReadSmallFile(const std::string& path, size_t limit, std::string& contents);

}  // namespace host
}  // namespace platform

#endif
