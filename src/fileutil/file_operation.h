// File and folder operations over the platform's file functions.
//
// Paths are wide device paths with backslash separators. Every operation
// answers with its result and never throws.
#ifndef FWSETUP_FILEUTIL_FILE_OPERATION_H
#define FWSETUP_FILEUTIL_FILE_OPERATION_H

#include <cstdint>
#include <vector>

#include "platform/types.h"

class FileOperation {
public:
    virtual ~FileOperation() {}

    // True when the path names a file or a folder.
    static bool FileExists(const WString& path);
    static bool RemoveFile(const WString& path);
    // The runtime's remove() of a narrow path, unchanged.
    static bool RemoveFileNarrow(const NString& path);
    static bool RenameFile(const WString& oldPath, const WString& newPath);
    // Files and folders; fails when the destination exists.
    static bool MovePath(const WString& from, const WString& to);
    // True when the destination exists afterwards, whatever the copy did.
    static bool CopyFileTo(const WString& source, const WString& destination, bool overwrite);
    // Free bytes available to the caller and total bytes of the volume holding
    // path (widened byte by byte); the caller initialises both.
    static bool GetFreeSpace(const NString& path, uint64_t& freeBytesAvailable, uint64_t& totalBytes);
    static bool IsDirectory(const WString& path);
    // The full paths of a folder's entries ("." and ".." left out), not descending.
    static std::vector<WString> ListDirectory(const WString& folder);
    // True when the folder and everything below it is gone.
    static bool RemoveDirectoryTree(const WString& folder);
    // The path ending in exactly one backslash.
    static WString AppendSeparator(const WString& path);
    // Everything after the last "." of the whole path replaced by extension.
    static WString ReplaceExtension(const WString& path, const WString& extension);
};

#endif
