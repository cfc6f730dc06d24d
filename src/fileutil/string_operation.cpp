#include "fileutil/string_operation.h"

#include <memory>

namespace StringOperation {

WString codecvt::in(const NString& narrow) const {
    WString wide;
    wide.reserve(narrow.size());
    for (size_t i = 0; i < narrow.size(); ++i) {
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(narrow[i])));
    }
    return wide;
}

NString ToUtf8(const WString& wide) {
    NString out;
    out.reserve(wide.size() * 3);
    for (size_t i = 0; i < wide.size(); ++i) {
        const uint32_t u = wide[i];
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

WString ToWide(const NString& narrow) {
    std::unique_ptr<codecvt> converter(new codecvt());
    return converter->in(narrow);
}

void ToUpper(NString& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 'a' && text[i] <= 'z')
            text[i] = static_cast<char>(text[i] - 'a' + 'A');
    }
}

void ToLower(WString& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= u'A' && text[i] <= u'Z') {
            text[i] = static_cast<char16_t>(text[i] - u'A' + u'a');
        }
    }
}

}  // namespace StringOperation

NString MakeKey(const NString& name, const NString& group) {
    if (group.empty())
        return name;
    return group + ":" + name;
}

NString NamePart(const NString& key) {
    const size_t colon = key.find(':');
    if (colon == NString::npos)
        return key;
    return key.substr(colon + 1);
}

NString GroupPart(const NString& key) {
    const size_t colon = key.find(':');
    if (colon == NString::npos)
        return NString();
    return key.substr(0, colon);
}

bool IsGroupKey(const NString& key) {
    return NamePart(key).empty();
}
