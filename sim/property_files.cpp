#include "sim/property_files.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "properties/json_property_archiver.h"
#include "runtime/thread_factory.h"
#include "sim/staging_device.h"
#include "sim/text_table.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

const char16_t kLegacyPath[] = u"/Store/Properties.ini";
const char16_t kOverrideIniPath[] = u"/Store/PropertiesOverride.ini";
const char16_t kArchivePath[] = u"/Store/Properties.json";
const char16_t kOverridePath[] = u"/Store/PropertiesOverride.json";

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

// DEVICE's \Store\ folder, found without regard to letter case; empty when there is none.
fs::path StoreFolder(const fs::path& device) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(device / "fs", ec)) {
        if (Lower(entry.path().filename().string()) == "store" && entry.is_directory(ec))
            return entry.path();
    }
    return fs::path();
}

// The property files of a \Store\ folder: every file whose name starts with "properties".
std::vector<fs::path> PropertyFiles(const fs::path& store) {
    std::vector<fs::path> files;
    std::error_code ec;
    if (store.empty())
        return files;
    for (const auto& entry : fs::directory_iterator(store, ec)) {
        if (entry.is_regular_file(ec) &&
            Lower(entry.path().filename().string()).rfind("properties", 0) == 0)
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A temporary printer holding copies of DEVICE's property files (and the
// memory figure the load limit comes from), made this process's device
// while it exists.
class Staging {
  public:
    Staging(const fs::path& device, const std::vector<fs::path>& files) {
        for (const fs::path& file : files)
            staging_.Put(file, "Store/" + file.filename().string());
        std::error_code ec;
        if (fs::exists(device / "hw" / "avail-phys", ec))
            fs::copy_file(device / "hw" / "avail-phys", staging_.Hw("avail-phys"), ec);
    }

  private:
    StagingDevice staging_;
};

std::optional<std::string> Member(const rapidjson::Value& entry, const char* name) {
    const auto found = entry.FindMember(name);
    if (found == entry.MemberEnd() || !found->value.IsString())
        return std::nullopt;
    return std::string(found->value.GetString(), found->value.GetStringLength());
}

std::vector<PropertyEntryView> EntriesOf(PropertyArchiverBase& archive) {
    JsonDocument::Document document;
    archive.CopyDocument(document);
    std::vector<PropertyEntryView> entries;
    if (!document.IsObject())
        return entries;
    const auto properties = document.FindMember("Properties");
    if (properties == document.MemberEnd() || !properties->value.IsArray())
        return entries;
    for (const rapidjson::Value& element : properties->value.GetArray()) {
        PropertyEntryView view;
        view.isObject = element.IsObject();
        if (view.isObject) {
            view.name = Member(element, "Name");
            view.nameString = Member(element, "NameString");
            view.group = Member(element, "Group");
            view.groupString = Member(element, "GroupString");
            view.value = Member(element, "Value");
        }
        entries.push_back(view);
    }
    return entries;
}

// Entries as rows: name string, group string and value, then the ids.
void AddRows(std::vector<std::string>& lines, const std::vector<PropertyEntryView>& entries) {
    if (entries.empty()) {
        lines.push_back("      (no entries)");
        return;
    }
    std::vector<std::vector<std::string>> rows;
    for (const PropertyEntryView& entry : entries) {
        if (!entry.isObject) {
            rows.push_back({"(not an object)"});
            continue;
        }
        rows.push_back({TableCell(entry.nameString, 48), TableCell(entry.groupString, 48),
                        TableCell(entry.value, 48), TableCell(entry.group, 48),
                        TableCell(entry.name, 48)});
    }
    for (const std::string& line : FormatColumns(rows, "      "))
        lines.push_back(line);
}

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

}  // namespace

PropertyFilesView ViewPropertyFiles(const fs::path& device) {
    PropertyFilesView view;
    const std::vector<fs::path> files = PropertyFiles(StoreFolder(device));
    std::error_code ec;
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        view.files.push_back({name, fs::file_size(file, ec)});
        if (Lower(name) == "properties.ini")
            view.hasLegacy = true;
        if (Lower(name) == "propertiesoverride.json")
            view.hasOverride = true;
    }
    const std::shared_ptr<ThreadFactory> factory = std::make_shared<ThreadFactory>(253);
    {
        Staging staging(device, files);
        JsonPropertyArchiver archive(kArchivePath, factory, 253);
        view.archiveLoads = archive.Load();
        view.archiveFromBackup = archive.LoadedFromBackup();
        if (view.archiveLoads)
            view.archiveEntries = EntriesOf(archive);
    }
    if (view.hasOverride) {
        Staging staging(device, files);
        JsonPropertyArchiver archive(kOverridePath, factory, 253);
        view.overrideLoads = archive.Load();
        view.overrideEntries = EntriesOf(archive);
    }
    if (view.hasLegacy) {
        Staging staging(device, files);
        PropertyFileStore store(factory, 253, kLegacyPath, kOverrideIniPath);
        store.MainArchive().HoldSaves();
        LegacyEntries entries;
        view.legacyReads = store.ReadLegacyFile(kLegacyPath, entries);
        view.legacyEntries = EntriesOf(store.MainArchive());
    }
    {
        Staging staging(device, files);
        PropertyFileStore store(factory, 253, kLegacyPath, kOverrideIniPath);
        PropertyIndex index;
        store.Load(index, kLegacyPath, kOverrideIniPath);
        view.outcome = store.Outcome();
        view.entriesAfterLoad = EntriesOf(store.MainArchive());
    }
    return view;
}

std::vector<std::string> DescribePropertyFiles(const PropertyFilesView& view, bool sequence) {
    std::vector<std::string> lines;
    std::string files = "  files in \\Store\\:";
    for (const auto& file : view.files)
        files += " " + file.first + " (" + std::to_string(file.second) + " bytes)";
    if (view.files.empty())
        files += " none";
    lines.push_back(files);
    if (sequence) {
        const PropertyLoadOutcome& o = view.outcome;
        lines.push_back("  load: " + std::string(o.loaded ? "loaded" : "nothing loaded") +
                        "; legacy file read " + YesNo(o.legacyRead) +
                        (o.legacyFromBackup ? " (from its .bak)" : "") +
                        ", migrated and consumed " + YesNo(o.legacyConsumed) + "; archive loaded " +
                        YesNo(o.archiveLoaded) + ", from its backup " + YesNo(o.backupUsed) +
                        "; override " +
                        (o.overrideFound ? std::string("merged ") + YesNo(o.overrideLoaded) +
                                               ", consumed " + YesNo(o.overrideConsumed)
                                         : std::string("none")) +
                        "; backup refreshed " + YesNo(o.backupRefreshed));
        lines.push_back("  main archive after the load:");
        AddRows(lines, view.entriesAfterLoad);
        return lines;
    }
    if (view.hasLegacy) {
        lines.push_back(std::string("  legacy file Properties.ini") +
                        (view.legacyReads ? ""
                                          : " (does not read whole; lines read before the "
                                            "fault shown)") +
                        ":");
        AddRows(lines, view.legacyEntries);
    }
    if (view.hasOverride) {
        lines.push_back(std::string("  override archive PropertiesOverride.json") +
                        (view.overrideLoads ? "" : " (does not load)") + ":");
        AddRows(lines, view.overrideEntries);
    }
    if (view.archiveLoads) {
        lines.push_back(std::string("  main archive Properties.json") +
                        (view.archiveFromBackup ? " (from its backup)" : "") + ":");
        AddRows(lines, view.archiveEntries);
    } else {
        lines.push_back("  main archive Properties.json: none that loads");
    }
    return lines;
}

}  // namespace sim
