#include "properties/property_catalogue.h"

// Defined in the catalogue's order, which is the order of construction.
namespace PropertyCatalogue {

const NString kEmptyName = "";
const NString kNameOfPropertyFileName = "Name of Property File";
const NString kNameOfPropertyOverrideFileName = "Name of Property Override File";
const NString kPropertyLoadingErrorName = "Property Loading Error";
const NString kPreviousFirmwareDriverBuildNumberName = "Previous Firmware Driver Build Number";

const NString kGroupKeyName = "";
const NString kNameOfPropertyFileId = "CD31503F-4949-40E1-BA2C-B2A88CF420F0";
const NString kNameOfPropertyOverrideFileId = "C8B8886D-A101-47A9-BC60-477938C53648";
const NString kPropertyLoadingErrorId = "A32AFFED-7C37-47FE-80DB-B21875E226BD";
const NString kPreviousFirmwareDriverBuildNumberId = "F3F63980-CA50-466F-9CA7-545D2B10468B";

const NString kFirmwareDriverComponentId = "B80EB2EA-4F49-423A-875C-8ACB1ACB9734";
const NString kFirmwareDriverComponentName = "Firmware Driver";

const NString kGeneralGroupName = "General";
const NString kErrorGroupName = "Error";
const NString kProductInfoGroupName = "Product Info";
const NString kGeneralGroupId = "99A61D40-20CE-41EA-A579-EB92C6ED94C6";
const NString kErrorGroupId = "2EBF9DEF-D51C-47FE-935E-5EDCC530B867";
const NString kProductInfoGroupId = "222D688A-1554-4C0E-B7A0-0BC377EF4071";

}  // namespace PropertyCatalogue
