// The pair of property archives the registry works with: the main archive,
// which keeps the stored value of every property, and the override archive,
// merged into it once and then deleted. The one load at start-up also migrates
// the legacy text file into the main archive.
//
// Legacy text file (the main path itself, "/Store/Properties.ini"): a text T
// followed by its CRC-16/MAXIM-DOW, two bytes, low byte first. T is lines
// separated by line feeds, each possibly ending in a carriage return:
//
//   groupId ":" id "|" groupName ":" name "=" value
//
// The key of a line is everything before its first "|" (groupId ":" id, the
// registry's key); its raw value is everything after its first "=" behind the
// "|", a final carriage return included.
//
// Load, in this order (each step says why it comes where it does):
//   1. Saves of the main archive are held while the legacy file is read and
//      the archive may be loaded: the lines go into the document, and whether
//      they or the archive file win must not depend on how fast the saver is.
//   2. The legacy file (or, when it does not read, its ".bak" copied over it)
//      adds one entry per line; when neither reads, the archive is loaded
//      instead, and when that fails too, Load ends there and deletes nothing.
//   3. The hold is released and the document is saved; only when that save
//      has replaced the archive pair is the legacy file consumed (".bak" first,
//      then the file), so that a cut leaves the legacy file or an archive
//      holding its values.
//   4. The override archive is loaded and merged, the merged document saved,
//      and only when that save has replaced the archive pair is the override
//      consumed (its sidecar first, so that a cut between the two deletes
//      leaves a file that is consumed next time without a load).
//   5. The backup pair is refreshed once every save above has been written.
//   6. The legacy values are handed to the registry's properties.
#ifndef FWSETUP_PROPERTIES_PROPERTY_FILE_STORE_H
#define FWSETUP_PROPERTIES_PROPERTY_FILE_STORE_H

#include <map>
#include <memory>
#include <utility>

#include "platform/types.h"
#include "properties/json_property_archiver.h"
#include "properties/property.h"
#include "properties/property_registry.h"
#include "runtime/orvel_mutex.h"
#include "runtime/thread_factory.h"

// Key to (the line up to its "=", the raw value), filled by ReadLegacyFile.
typedef std::map<NString, std::pair<NString, NString> > LegacyEntries;

// What the last Load found and did.
struct PropertyLoadOutcome {
    PropertyLoadOutcome()
        : legacyRead(false),
          legacyFromBackup(false),
          legacyConsumed(false),
          archiveLoaded(false),
          backupUsed(false),
          overrideFound(false),
          overrideLoaded(false),
          overrideConsumed(false),
          backupRefreshed(false),
          loaded(false) {}
    bool legacyRead;        // the legacy file (or its ".bak") read whole
    bool legacyFromBackup;  // ... after its ".bak" was copied over it
    bool legacyConsumed;    // the legacy file and its ".bak" were deleted
    bool archiveLoaded;     // the main archive was loaded (the legacy file did not read)
    bool backupUsed;        // ... from its backup pair
    bool overrideFound;     // an override archive file was there
    bool overrideLoaded;    // ... and loaded
    bool overrideConsumed;  // ... merged, saved and deleted
    bool backupRefreshed;   // the backup pair now equals the main archive
    bool loaded;            // the result of Load
};

class PropertyFileStore {
  public:
    // Creates both archives on mainPath and overridePath with the extension
    // "json" (their savers start at priority); nothing is read yet.
    PropertyFileStore(std::shared_ptr<ThreadFactory> factory, int32_t priority,
                      const WString& mainPath, const WString& overridePath);
    ~PropertyFileStore();

    // The start-up sequence above; false when neither the legacy file nor the
    // main archive could be loaded. The caller holds the registry's index lock.
    bool Load(PropertyIndex& index, const WString& mainPath, const WString& overridePath);
    // Reads a legacy file: false when it cannot be opened, holds 2 bytes or
    // fewer, or its CRC does not match. Otherwise every line with a "|" that is
    // not its first character and an "=" after it goes into entries (a repeated
    // key overwrites) and into the main archive (AddEntry, value without its
    // line end); the result is the outcome of the last line: false for a line
    // without such a "|" or without an "=" after it.
    bool ReadLegacyFile(const WString& path, LegacyEntries& entries);

    JsonPropertyArchiver& MainArchive() { return mainArchive_; }
    JsonPropertyArchiver& OverrideArchive() { return overrideArchive_; }
    OrvelMutex& StoreLock() { return storeLock_; }
    const PropertyLoadOutcome& Outcome() const { return outcome_; }
    // The legacy-only properties made by Load (those the registry did not hold).
    std::map<NString, std::shared_ptr<Property> > LegacyProperties();

  private:
    PropertyFileStore(const PropertyFileStore&);
    PropertyFileStore& operator=(const PropertyFileStore&);

    std::map<NString, std::shared_ptr<Property> > legacyProperties_;
    JsonPropertyArchiver mainArchive_;
    JsonPropertyArchiver overrideArchive_;
    OrvelMutex storeLock_;
    PropertyLoadOutcome outcome_;
};

#endif
