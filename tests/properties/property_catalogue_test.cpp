#include "properties/property_catalogue.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace PropertyCatalogue;

// The texts that stored archives and upgrade descriptions carry: a constant
// that differs in one character no longer matches what printers hold.
TEST(PropertyCatalogue, UsedRowsHoldTheSharedTextsExactly) {
    const struct {
        const NString& constant;
        const char* text;
    } rows[] = {
        {kNameOfPropertyFileName, "Name of Property File"},
        {kNameOfPropertyFileId, "CD31503F-4949-40E1-BA2C-B2A88CF420F0"},
        {kNameOfPropertyOverrideFileName, "Name of Property Override File"},
        {kNameOfPropertyOverrideFileId, "C8B8886D-A101-47A9-BC60-477938C53648"},
        {kPropertyLoadingErrorName, "Property Loading Error"},
        {kPropertyLoadingErrorId, "A32AFFED-7C37-47FE-80DB-B21875E226BD"},
        {kPreviousFirmwareDriverBuildNumberName, "Previous Firmware Driver Build Number"},
        {kPreviousFirmwareDriverBuildNumberId, "F3F63980-CA50-466F-9CA7-545D2B10468B"},
        {kFirmwareDriverComponentName, "Firmware Driver"},
        {kFirmwareDriverComponentId, "B80EB2EA-4F49-423A-875C-8ACB1ACB9734"},
        {kGeneralGroupName, "General"},
        {kGeneralGroupId, "99A61D40-20CE-41EA-A579-EB92C6ED94C6"},
        {kErrorGroupName, "Error"},
        {kErrorGroupId, "2EBF9DEF-D51C-47FE-935E-5EDCC530B867"},
        {kProductInfoGroupName, "Product Info"},
        {kProductInfoGroupId, "222D688A-1554-4C0E-B7A0-0BC377EF4071"},
    };
    std::set<NString> distinct;
    for (const auto& row : rows) {
        EXPECT_EQ(row.constant, row.text);
        distinct.insert(row.constant);
    }
    EXPECT_EQ(distinct.size(), sizeof(rows) / sizeof(rows[0]));
}

TEST(PropertyCatalogue, TheTwoEmptyTextsAreEmptyStrings) {
    EXPECT_TRUE(kEmptyName.empty());
    EXPECT_TRUE(kGroupKeyName.empty());
}

}  // namespace
