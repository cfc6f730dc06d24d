#include "sim/package_builder.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "sim/cabinet.h"
#include "sim/output_file.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The entry of folder named name without regard to case, or folder / name.
fs::path EntryIgnoringCase(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (EqualsIgnoringCase(it->path().filename().string(), name))
            return it->path();
    }
    return folder / name;
}

void CheckRecipe(const PackageRecipe& recipe) {
    if (recipe.layout.empty() ||
        !std::all_of(recipe.layout.begin(), recipe.layout.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
        })) {
        throw std::runtime_error("layout name '" + recipe.layout +
                                 "' must be letters, digits and underscores");
    }
    CommandFiles files;
    files.Input("module", recipe.module);
    files.InputFolder("payload", recipe.payloadDir);
    if (recipe.filesDir)
        files.InputFolder("files", *recipe.filesDir);
    files.OutputFolder("PKG", recipe.output);
}

// Undoes a half-built package: removes what was made inside PKG, and PKG itself
// when it was made here.
class PackageCleanup {
  public:
    PackageCleanup(fs::path output, bool created) : output_(std::move(output)), created_(created) {}
    ~PackageCleanup() {
        if (done_)
            return;
        std::error_code ec;
        if (created_) {
            fs::remove_all(output_, ec);
            return;
        }
        for (fs::directory_iterator it(output_, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
    void Done() { done_ = true; }

  private:
    fs::path output_;
    bool created_;
    bool done_ = false;
};

}  // namespace

void MakePackage(const PackageRecipe& recipe, const Progress& progress) {
    CheckRecipe(recipe);
    std::error_code ec;
    const bool created = !fs::exists(recipe.output, ec);
    fs::create_directories(recipe.output, ec);
    if (ec)
        throw std::runtime_error("cannot create " + recipe.output.string() + ": " + ec.message());
    PackageCleanup cleanup(recipe.output, created);

    const fs::path files = recipe.output / "files";
    fs::create_directories(files, ec);
    if (ec)
        throw std::runtime_error("cannot create " + files.string() + ": " + ec.message());
    if (recipe.filesDir) {
        fs::copy(*recipe.filesDir, files, fs::copy_options::recursive, ec);
        if (ec) {
            throw std::runtime_error("cannot copy " + recipe.filesDir->string() + ": " +
                                     ec.message());
        }
    }
    // The device ignores letter case, so an UpgradeTemp folder of the extra files is the one.
    const fs::path upgradeTemp = EntryIgnoringCase(files, "UpgradeTemp");
    fs::create_directories(upgradeTemp, ec);
    if (ec)
        throw std::runtime_error("cannot create " + upgradeTemp.string() + ": " + ec.message());
    const fs::path payload = EntryIgnoringCase(upgradeTemp, recipe.layout + ".lz4");
    if (fs::exists(payload, ec)) {
        throw std::runtime_error("the extra files already hold " + payload.string());
    }

    const fs::path cabinet = recipe.output / ".cabinet";
    WriteCabinetFromDirectory(recipe.payloadDir, cabinet);
    PackPayloadFile(cabinet, payload, progress);
    fs::remove(cabinet, ec);

    fs::copy_file(recipe.module, recipe.output / "setup.so", ec);
    if (ec)
        throw std::runtime_error("cannot copy " + recipe.module.string() + ": " + ec.message());
    cleanup.Done();
}

}  // namespace sim
