#include "support/host_files.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>

namespace fwtest {

namespace fs = std::filesystem;

void WriteHostFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

std::string ReadHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> FolderInventory(const fs::path& top) {
    std::map<std::string, std::string> entries;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(top, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) != 0)
            continue;
        std::string what = std::to_string(st.st_mode) + " ";
        if (S_ISLNK(st.st_mode))
            what += fs::read_symlink(it->path(), ec).string();
        else if (S_ISREG(st.st_mode))
            what += ReadHostFile(it->path());
        entries[it->path().lexically_relative(top).string()] = what;
    }
    return entries;
}

}  // namespace fwtest
