#include "output_file.h"

#include <fstream>
#include <iterator>

#include "app.h"

namespace fwsetup {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadInputFile(const fs::path& file) {
    try {
        sim::CommandFiles().Input("input", file);
    } catch (const std::runtime_error& e) {
        throw UsageError(e.what());
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad())
        throw UsageError("cannot read '" + file.string() + "'");
    return bytes;
}

void CheckOutputFile(const fs::path& out, const std::vector<fs::path>& inputs) {
    try {
        sim::CommandFiles files;
        for (const fs::path& input : inputs)
            files.Input("input", input);
        files.Output("OUT", out);
    } catch (const std::runtime_error& e) {
        throw UsageError(e.what());
    }
}

void ReplaceOutputFile(const fs::path& out, const std::vector<uint8_t>& bytes) {
    try {
        sim::WriteOutputFile(out, bytes);
    } catch (const std::runtime_error& e) {
        throw UsageError(e.what());
    }
}

}  // namespace fwsetup
