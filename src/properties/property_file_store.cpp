#include "properties/property_file_store.h"

#include <mutex>

#include "fileutil/crc16.h"
#include "fileutil/file_operation.h"
#include "fileutil/string_operation.h"
#include "package/file_stream.h"
#include "properties/string_property.h"

namespace {

// Characters first..last of text (empty when last comes before first).
NString Span(const NString& text, size_t first, size_t last) {
    if (first == NString::npos || last == NString::npos || last < first || first >= text.size())
        return NString();
    return text.substr(first, last - first + 1);
}

bool ContainsIni(const WString& path) {
    return path.find(u".ini") != WString::npos;
}

}  // namespace

PropertyFileStore::PropertyFileStore(std::shared_ptr<ThreadFactory> factory, int32_t priority,
                                     const WString& mainPath, const WString& overridePath)
    : mainArchive_(FileOperation::ReplaceExtension(mainPath, u"json"), factory, priority),
      overrideArchive_(FileOperation::ReplaceExtension(overridePath, u"json"), factory, priority) {}

PropertyFileStore::~PropertyFileStore() {}

bool PropertyFileStore::ReadLegacyFile(const WString& path, LegacyEntries& entries) {
    ByteVector bytes;
    {
        FileStream stream(path, StreamMode::Read);
        if (!stream.IsGood())
            return false;
        bytes = stream.ReadAll();
    }
    if (bytes.size() <= 2)
        return false;
    const size_t textSize = bytes.size() - 2;
    const uint16_t stored =
        static_cast<uint16_t>(bytes[textSize] | (static_cast<uint16_t>(bytes[textSize + 1]) << 8));
    if (Crc16::Compute(&bytes[0], textSize) != stored)
        return false;
    const NString text(reinterpret_cast<const char*>(&bytes[0]), textSize);

    bool result = true;
    size_t begin = 0;
    for (;;) {
        const size_t end = text.find('\n', begin);
        const NString line = text.substr(begin, end == NString::npos ? NString::npos : end - begin);
        const size_t bar = line.find('|');
        const size_t equals = bar == NString::npos ? NString::npos : line.find('=', bar);
        if (bar == NString::npos || bar == 0 || equals == NString::npos) {
            // No "|", a "|" first, or no "=" after it: not a property line.
            result = false;
        } else {
            const size_t colon = line.find(':');
            const size_t nameColon = line.find(':', bar);
            const size_t lastChar = line.find_last_not_of("\r\n");
            // The group id runs to the first ":" when it comes before the "|".
            const bool hasGroup = colon < bar;
            const NString groupId = Span(line, 0, (hasGroup ? colon : bar) - 1);
            const NString id = hasGroup ? Span(line, colon + 1, bar - 1) : NString();
            const bool hasName = nameColon < equals;
            const NString groupName = Span(line, bar + 1, (hasName ? nameColon : equals) - 1);
            const NString name = hasName ? Span(line, nameColon + 1, equals - 1) : NString();
            const NString value = Span(line, equals + 1, lastChar);
            entries[line.substr(0, bar)] =
                std::make_pair(line.substr(0, equals), line.substr(equals + 1));
            mainArchive_.AddEntry(id, groupId, groupName, name, value);
            result = true;
        }
        if (end == NString::npos)
            break;
        begin = end + 1;
    }
    return result;
}

bool PropertyFileStore::Load(PropertyIndex& index, const WString& mainPath,
                             const WString& overridePath) {
    outcome_ = PropertyLoadOutcome();
    const bool isLegacy = ContainsIni(mainPath);
    const WString legacyBackup = mainPath + u".bak";
    LegacyEntries entries;

    // Steps 1 and 2: the legacy file or the archive, decided before anything is saved.
    mainArchive_.HoldSaves();
    bool ok = ReadLegacyFile(mainPath, entries);
    if (!ok && isLegacy && FileOperation::FileExists(legacyBackup)) {
        FileOperation::CopyFileTo(legacyBackup, mainPath, true);
        ok = ReadLegacyFile(mainPath, entries);
        outcome_.legacyFromBackup = ok;
    }
    outcome_.legacyRead = ok;
    if (!ok) {
        ok = mainArchive_.Load();
        outcome_.archiveLoaded = ok;
        outcome_.backupUsed = ok && mainArchive_.LoadedFromBackup();
    }
    mainArchive_.ReleaseSaves();
    if (!ok)
        return false;

    // Step 3: the legacy file goes only once the archive on file holds what it gave.
    if (isLegacy &&
        (FileOperation::FileExists(mainPath) || FileOperation::FileExists(legacyBackup)) &&
        mainArchive_.WaitForSaves()) {
        FileOperation::RemoveFile(legacyBackup);
        FileOperation::RemoveFile(mainPath);
        outcome_.legacyConsumed =
            !FileOperation::FileExists(mainPath) && !FileOperation::FileExists(legacyBackup);
    }

    // Step 4: the override, consumed once the merged archive is on file (also
    // when it did not load: there is nothing in it to keep).
    const WString overrideFile = FileOperation::ReplaceExtension(overridePath, u"json");
    if (FileOperation::FileExists(overrideFile)) {
        outcome_.overrideFound = true;
        outcome_.overrideLoaded = overrideArchive_.Load();
        mainArchive_.MergeFrom(overrideArchive_);
        if (mainArchive_.WaitForSaves()) {
            FileOperation::RemoveFile(overrideFile + u".MD5");
            FileOperation::RemoveFile(overrideFile);
            outcome_.overrideConsumed = !FileOperation::FileExists(overrideFile);
        }
    }

    // Step 5.
    outcome_.backupRefreshed = mainArchive_.Backup();

    // Step 6. A key that is a group key (a line with an empty id) names no
    // property: it is kept among the legacy-only ones.
    for (LegacyEntries::const_iterator entry = entries.begin(); entry != entries.end(); ++entry) {
        const NString& key = entry->first;
        PropertyIndex::iterator registered = IsGroupKey(key) ? index.end() : index.find(key);
        NString raw = entry->second.second;
        if (registered != index.end()) {
            registered->second->SetValueFromStringNoEvent(raw);
        } else {
            std::shared_ptr<Property> property = std::make_shared<StringProperty>(
                raw, NamePart(key), NString(), GroupPart(key), NString());
            std::lock_guard<OrvelMutex> hold(storeLock_);
            legacyProperties_[key] = property;
        }
    }
    outcome_.loaded = true;
    return true;
}

std::map<NString, std::shared_ptr<Property> > PropertyFileStore::LegacyProperties() {
    std::lock_guard<OrvelMutex> hold(storeLock_);
    return legacyProperties_;
}
