// Folder clean-up: move a folder aside under a new name, then delete it.
#ifndef FWSETUP_FILEUTIL_FILE_DELETE_HANDLER_H
#define FWSETUP_FILEUTIL_FILE_DELETE_HANDLER_H

#include "platform/types.h"

namespace FileDeleteHandler {

// Moves folder to newName and deletes it with everything in it; deletes in
// place when the move fails. Reports nothing.
void DeleteDirectoryContents(const WString& folder, const WString& newName);

}  // namespace FileDeleteHandler

// The current UTC time as a name suffix: years since 1900, month from 0, day,
// hour, minute, second, each in decimal without leading zeros, no separators.
WString GetCurrentTimeString();

#endif
