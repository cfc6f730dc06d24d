#include "fileutil/file_delete_handler.h"

#include <cstdio>
#include <vector>

#include "fileutil/file_operation.h"
#include "platform/clock.h"

namespace FileDeleteHandler {

void DeleteDirectoryContents(const WString& folder, const WString& newName) {
    if (!FileOperation::FileExists(folder) || !FileOperation::IsDirectory(folder))
        return;

    // Once moved aside, the old name is free whatever resists deletion below.
    const WString& working = FileOperation::MovePath(folder, newName) ? newName : folder;

    const std::vector<WString> entries = FileOperation::ListDirectory(working);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (FileOperation::IsDirectory(entries[i])) {
            FileOperation::RemoveDirectoryTree(entries[i]);
        } else {
            FileOperation::RemoveFile(entries[i]);
        }
    }
    // The second pass also takes the read-only files the first one could not
    // delete, and the working folder itself.
    FileOperation::RemoveDirectoryTree(working);
}

}  // namespace FileDeleteHandler

namespace {

void AppendNumber(WString& out, int value) {
    char digits[16];
    const int length = std::snprintf(digits, sizeof digits, "%d", value);
    for (int i = 0; i < length; ++i)
        out.push_back(static_cast<char16_t>(digits[i]));
}

}  // namespace

// Without a readable clock the result is empty: a name with an empty suffix is
// the folder's own name, so a clean-up then deletes in place.
WString GetCurrentTimeString() {
    platform::TimeFields fields;
    if (!platform::GmTime64(platform::Time64(), fields))
        return WString();
    WString text;
    AppendNumber(text, fields.year);
    AppendNumber(text, fields.month);
    AppendNumber(text, fields.day);
    AppendNumber(text, fields.hour);
    AppendNumber(text, fields.minute);
    AppendNumber(text, fields.second);
    return text;
}
