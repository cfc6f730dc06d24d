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

namespace {

// Every entry below top (links not followed), described by describe.
std::map<std::string, std::string> Walk(const fs::path& top,
                                        std::string (*describe)(const fs::path& path,
                                                                const struct stat& st)) {
    std::map<std::string, std::string> entries;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(top, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) != 0)
            continue;
        entries[it->path().lexically_relative(top).string()] = describe(it->path(), st);
    }
    return entries;
}

}  // namespace

std::map<std::string, std::string> FolderInventory(const fs::path& top) {
    return Walk(top, [](const fs::path& path, const struct stat& st) {
        std::string what = std::to_string(st.st_mode) + " ";
        std::error_code ec;
        if (S_ISLNK(st.st_mode))
            what += fs::read_symlink(path, ec).string();
        else if (S_ISREG(st.st_mode))
            what += ReadHostFile(path);
        return what;
    });
}

std::map<std::string, std::string> FolderStamps(const fs::path& top) {
    return Walk(top, [](const fs::path&, const struct stat& st) {
        return std::to_string(st.st_mode) + " " + std::to_string(st.st_ino) + " " +
               std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
               std::to_string(st.st_mtim.tv_nsec);
    });
}

}  // namespace fwtest
