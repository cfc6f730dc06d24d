#include "output_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "app.h"

namespace fwsetup {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadInputFile(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        throw UsageError("no file '" + file.string() + "'");
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad())
        throw UsageError("cannot read '" + file.string() + "'");
    return bytes;
}

void CheckOutputFile(const fs::path& out, const std::vector<fs::path>& inputs) {
    std::error_code ec;
    if (out.empty())
        throw UsageError("OUT is empty");
    const fs::file_status status = fs::status(out, ec);
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status))
            throw UsageError("OUT '" + out.string() + "' exists and is not a regular file");
        for (const fs::path& input : inputs) {
            if (fs::equivalent(input, out, ec))
                throw UsageError("OUT '" + out.string() + "' is the input '" + input.string() +
                                 "'");
        }
    }
    const fs::path parent = fs::absolute(out, ec).parent_path();
    if (!fs::is_directory(parent, ec))
        throw UsageError("no folder '" + parent.string() + "' for OUT");
}

void ReplaceOutputFile(const fs::path& out, const std::vector<uint8_t>& bytes) {
    std::error_code ec;
    const fs::path parent = fs::absolute(out, ec).parent_path();
    std::string pattern = (parent / ("." + out.filename().string() + ".fwsetup-XXXXXX")).string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        throw UsageError("cannot create a temporary file in '" + parent.string() + "'");
    close(fd);
    const fs::path temporary(pattern);
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        stream.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        stream.close();
        if (!stream) {
            fs::remove(temporary, ec);
            throw UsageError("cannot write '" + out.string() + "'");
        }
    }
    fs::permissions(temporary,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::others_read,
                    ec);
    fs::rename(temporary, out, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw UsageError("cannot write '" + out.string() + "': " + ec.message());
    }
}

}  // namespace fwsetup
