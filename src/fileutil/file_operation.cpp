#include "fileutil/file_operation.h"

#include <memory>

#include "platform/files.h"

bool FileOperation::FileExists(const WString& path) {
    return platform::GetFileAttributes(path) != platform::kInvalidFileAttributes;
}

bool FileOperation::RemoveFile(const WString& path) {
    return platform::DeleteFile(path);
}

bool FileOperation::RemoveFileNarrow(const NString& path) {
    return platform::RemoveNarrow(path);
}

bool FileOperation::RenameFile(const WString& oldPath, const WString& newPath) {
    return platform::Rename(oldPath, newPath);
}

bool FileOperation::MovePath(const WString& from, const WString& to) {
    return platform::MoveFile(from, to);
}

bool FileOperation::CopyFileTo(const WString& source, const WString& destination, bool overwrite) {
    // Whether the copy itself worked does not matter: the destination must be there.
    platform::CopyFile(source, destination, !overwrite);
    return FileExists(destination);
}

bool FileOperation::GetFreeSpace(const NString& path, uint64_t& freeBytesAvailable,
                                 uint64_t& totalBytes) {
    // Each byte becomes one code unit: exact for ASCII paths.
    WString widened;
    widened.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        widened.push_back(static_cast<char16_t>(static_cast<unsigned char>(path[i])));
    }
    uint64_t totalFreeBytes = 0;
    return platform::GetDiskFreeSpaceEx(widened, &freeBytesAvailable, &totalBytes, &totalFreeBytes);
}

bool FileOperation::IsDirectory(const WString& path) {
    const uint32_t attributes = platform::GetFileAttributes(AppendSeparator(path));
    return attributes != platform::kInvalidFileAttributes &&
           (attributes & platform::kFileAttributeDirectory) != 0;
}

std::vector<WString> FileOperation::ListDirectory(const WString& folder) {
    std::vector<WString> entries;
    platform::FindData entry;
    std::unique_ptr<platform::FileSearch> search = platform::FindFirstFile(folder + u"\\*", entry);
    if (!search)
        return entries;
    do {
        const bool isFolder = (entry.attributes & platform::kFileAttributeDirectory) != 0;
        if (isFolder && (entry.name == u"." || entry.name == u".."))
            continue;
        entries.push_back(folder + u"\\" + entry.name);
    } while (search->Next(entry));
    return entries;
}

bool FileOperation::RemoveDirectoryTree(const WString& folder) {
    if (!FileExists(folder))
        return false;
    platform::FindData entry;
    std::unique_ptr<platform::FileSearch> search =
        platform::FindFirstFile(folder + u"\\*.*", entry);
    if (search) {
        const WString prefix = AppendSeparator(folder);
        do {
            // Names starting with a dot stay, "." and ".." among them.
            if (!entry.name.empty() && entry.name[0] == u'.')
                continue;
            const WString path = prefix + entry.name;
            if ((entry.attributes & platform::kFileAttributeDirectory) != 0) {
                if (!RemoveDirectoryTree(path))
                    return false;
            } else if (!platform::SetFileAttributes(path, platform::kFileAttributeNormal) ||
                       !platform::DeleteFile(path)) {
                return false;
            }
        } while (search->Next(entry));
        search.reset();
    }
    return platform::SetFileAttributes(folder, platform::kFileAttributeNormal) &&
           platform::RemoveDirectory(folder);
}

WString FileOperation::AppendSeparator(const WString& path) {
    if (!path.empty() && path[path.size() - 1] == u'\\')
        return path;
    return path + u"\\";
}

WString FileOperation::ReplaceExtension(const WString& path, const WString& extension) {
    const size_t dot = path.rfind(u'.');
    if (dot == WString::npos)
        return path;
    return path.substr(0, dot + 1) + extension;
}
