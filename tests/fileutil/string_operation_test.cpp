#include "fileutil/string_operation.h"

#include <gtest/gtest.h>

namespace {

NString Bytes(std::initializer_list<unsigned> bytes) {
    NString out;
    for (unsigned b : bytes)
        out.push_back(static_cast<char>(b));
    return out;
}

TEST(StringOperationTest, ToUtf8EncodesEveryCodeUnitOnItsOwn) {
    const struct {
        WString wide;
        NString utf8;
    } cases[] = {
        {u"", ""},
        {u"Abc", "Abc"},
        {WString(1, u'\0') + u"x", Bytes({0x00, 'x'})},
        {WString(1, 0x7F), Bytes({0x7F})},
        {WString(1, 0x80), Bytes({0xC2, 0x80})},
        {WString(1, 0xE9), Bytes({0xC3, 0xA9})},
        {WString(1, 0x7FF), Bytes({0xDF, 0xBF})},
        {WString(1, 0x800), Bytes({0xE0, 0xA0, 0x80})},
        {WString(1, 0x20AC), Bytes({0xE2, 0x82, 0xAC})},
        {WString(1, 0xFFFF), Bytes({0xEF, 0xBF, 0xBF})},
        // A surrogate pair is not combined: each half is three bytes.
        {WString{0xD83D, 0xDE00}, Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80})},
        // An unpaired half passes through the same way.
        {WString{u'a', 0xDC00}, Bytes({'a', 0xED, 0xB0, 0x80})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StringOperation::ToUtf8(c.wide), c.utf8);
    }
}

TEST(StringOperationTest, ToWideMakesOneCodeUnitPerByte) {
    EXPECT_EQ(StringOperation::ToWide(""), u"");
    EXPECT_EQ(StringOperation::ToWide(Bytes({0xE9})), WString(1, 0x00E9));
    const NString all = [] {
        NString s;
        for (unsigned b = 0; b < 256; ++b)
            s.push_back(static_cast<char>(b));
        return s;
    }();
    const WString wide = StringOperation::ToWide(all);
    ASSERT_EQ(wide.size(), 256u);
    for (unsigned b = 0; b < 256; ++b)
        EXPECT_EQ(static_cast<unsigned>(wide[b]), b);
}

TEST(StringOperationTest, CaseChangesTouchOnlyAsciiLetters) {
    NString narrow = Bytes({'a', 'z', 'A', '0', '@', '[', '`', '{', 0xE9, 0xFF});
    StringOperation::ToUpper(narrow);
    EXPECT_EQ(narrow, Bytes({'A', 'Z', 'A', '0', '@', '[', '`', '{', 0xE9, 0xFF}));

    WString wide{u'A', u'Z', u'a', u'@', u'[', 0xC9, 0x141, 0xFF21};
    StringOperation::ToLower(wide);
    EXPECT_EQ(wide, (WString{u'a', u'z', u'a', u'@', u'[', 0xC9, 0x141, 0xFF21}));
}

TEST(StringOperationTest, KeysSplitAtTheFirstColon) {
    EXPECT_EQ(MakeKey("Name", ""), "Name");
    EXPECT_EQ(MakeKey("Name", "Group"), "Group:Name");
    EXPECT_EQ(MakeKey("", "Group"), "Group:");

    const struct {
        NString key;
        NString group;
        NString name;
        bool isGroupKey;
    } cases[] = {
        {"Name", "", "Name", false},  {"Group:Name", "Group", "Name", false},
        {"a:b:c", "a", "b:c", false}, {"Group:", "Group", "", true},
        {"", "", "", true},           {":Name", "", "Name", false},
        {"a::", "a", ":", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GroupPart(c.key), c.group) << c.key;
        EXPECT_EQ(NamePart(c.key), c.name) << c.key;
        EXPECT_EQ(IsGroupKey(c.key), c.isGroupKey) << c.key;
    }
}

}  // namespace
