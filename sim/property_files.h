// The property files of a simulated printer (\Store\), read by the module's
// own code on a copy, so that looking never changes the printer.
#ifndef FWSETUP_SIM_PROPERTY_FILES_H
#define FWSETUP_SIM_PROPERTY_FILES_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "properties/property_file_store.h"

namespace sim {

// One element of a "Properties" array; a member that is missing or not a
// string is empty.
struct PropertyEntryView {
    bool isObject = true;
    std::optional<std::string> name, nameString, group, groupString, value;
};

struct PropertyFilesView {
    // The files of \Store\ that belong to the property files, with their sizes.
    std::vector<std::pair<std::string, uintmax_t>> files;

    // The legacy file as the module reads it (when there is one).
    bool hasLegacy = false;
    bool legacyReads = false;
    std::vector<PropertyEntryView> legacyEntries;
    // The override archive as the module loads it (when there is one).
    bool hasOverride = false;
    bool overrideLoads = false;
    std::vector<PropertyEntryView> overrideEntries;
    // The main archive as its own load finds it (digest check, backup).
    bool archiveLoads = false;
    bool archiveFromBackup = false;
    std::vector<PropertyEntryView> archiveEntries;

    // The whole start-up load of the property files, as the next
    // PreviousBuildNumberPropertyCreator::Create would run it, and the main
    // archive's entries after it.
    PropertyLoadOutcome outcome;
    std::vector<PropertyEntryView> entriesAfterLoad;
};

// Reads DEVICE's \Store\ property files. Throws std::runtime_error when no
// temporary copy can be made.
PropertyFilesView ViewPropertyFiles(const std::filesystem::path& device);

// A readable account: the files, then each part that is there, entries as rows.
// With sequence, the load outcome and the entries after it; without, the files
// as they stand (legacy, override, archive).
std::vector<std::string> DescribePropertyFiles(const PropertyFilesView& view, bool sequence);

}  // namespace sim

#endif
