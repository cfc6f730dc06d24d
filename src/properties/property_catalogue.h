// The shared catalogue of property, component and group names and ids that
// the printer's software identifies its properties by: the rows this module
// uses. Every text is kept exactly as the catalogue has it (ids are compared
// byte for byte and are never normalised).
//
// The catalogue is three tables of (name, id) pairs, the n-th name of a table
// belonging to its n-th id:
//   properties  an empty text, the property names, a second empty text, the
//               property ids in the same order
//   components  the component ids, then the component names
//   groups      the group names, then the group ids
// The constants are built when the module loads, in that order, and destroyed
// when it unloads.
#ifndef FWSETUP_PROPERTIES_PROPERTY_CATALOGUE_H
#define FWSETUP_PROPERTIES_PROPERTY_CATALOGUE_H

#include "platform/types.h"

namespace PropertyCatalogue {

// Properties. The first empty text carries no pair.
extern const NString kEmptyName;
extern const NString kNameOfPropertyFileName;
extern const NString kNameOfPropertyOverrideFileName;
extern const NString kPropertyLoadingErrorName;
extern const NString kPreviousFirmwareDriverBuildNumberName;
// The second empty text: the empty name of the registry's group keys,
// MakeKey(kGroupKeyName, groupId).
extern const NString kGroupKeyName;
extern const NString kNameOfPropertyFileId;
extern const NString kNameOfPropertyOverrideFileId;
extern const NString kPropertyLoadingErrorId;
extern const NString kPreviousFirmwareDriverBuildNumberId;

// Components. The firmware driver is the component whose version the upgrade
// description gives.
extern const NString kFirmwareDriverComponentId;
extern const NString kFirmwareDriverComponentName;

// Groups.
extern const NString kGeneralGroupName;
extern const NString kErrorGroupName;
extern const NString kProductInfoGroupName;
extern const NString kGeneralGroupId;
extern const NString kErrorGroupId;
extern const NString kProductInfoGroupId;

}  // namespace PropertyCatalogue

#endif
