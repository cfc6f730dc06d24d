// Records the build number of the firmware that an operating-system package
// replaces, as the persistent property "Previous Firmware Driver Build Number".
//
// The number is the last dotted part of a version: the "componentVersion" of
// the firmware driver's element of "Files" in "\UpgradeTemp\prevUpgrade.json",
// or, when that file is absent, the quoted "QtBuildNumber" of
// "\boot\qtlibs_version.ini".
#ifndef FWSETUP_PROPERTIES_PREVIOUS_BUILD_NUMBER_PROPERTY_CREATOR_H
#define FWSETUP_PROPERTIES_PREVIOUS_BUILD_NUMBER_PROPERTY_CREATOR_H

#include "platform/types.h"

namespace PreviousBuildNumberPropertyCreator {

extern const WString kUpgradeDescriptionPath;    // \UpgradeTemp\prevUpgrade.json
extern const WString kQtLibsVersionPath;         // \boot\qtlibs_version.ini
extern const WString kPropertyFilePath;          // /Store/Properties.ini
extern const WString kPropertyOverrideFilePath;  // /Store/PropertiesOverride.ini

// With a build number: sets up the property subsystem for this one call,
// stores the number in the main archive (a save only when it differs from the
// stored one) and tears everything down once the save is written. Without one
// nothing is read or written by the property subsystem.
void Create();
// From the upgrade description when it exists (even when that gives nothing),
// else from the ini file; empty when there is none.
NString GetBuildNumber();
// The build number of the firmware driver component of the upgrade
// description; empty when the file cannot be read or parsed, has no such
// component, or its version has no build number.
NString GetBuildNumberFromUpgradeJson();
// Everything after the last "."; empty without a dot or after a final one.
NString GetLastPartAfterDot(const NString& text);

}  // namespace PreviousBuildNumberPropertyCreator

// The quoted value of the first line of the file that holds key anywhere:
// from the first double quote after the "=" that follows the key, to the last
// character of the line that is none of double quote, backslash, carriage
// return and line feed. "Error" when the file cannot be read whole, no line
// holds the key, or that line has no "=", no quote, or nothing after the quote.
NString ReadIniValue(const WString& path, const NString& key);

#endif
