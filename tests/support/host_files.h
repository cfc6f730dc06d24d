// Host files for tests that look at folders outside a device: writing and
// reading whole files, and an inventory that shows any change below a folder.
#ifndef FWSETUP_TESTS_SUPPORT_HOST_FILES_H
#define FWSETUP_TESTS_SUPPORT_HOST_FILES_H

#include <filesystem>
#include <map>
#include <string>

namespace fwtest {

// Writes contents to path (replaced), making its folders.
void WriteHostFile(const std::filesystem::path& path, const std::string& contents);
// What path holds; empty when it cannot be read.
std::string ReadHostFile(const std::filesystem::path& path);
// Every entry below top (links not followed): its mode, then its link target
// or, for a file, its contents; keyed by the path relative to top.
std::map<std::string, std::string> FolderInventory(const std::filesystem::path& top);

}  // namespace fwtest

#endif
