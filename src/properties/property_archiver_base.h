// A property archive: a JsonDocument of property entries kept in an archive
// file, with its digest sidecar and a backup pair, and a saver thread that
// writes the file after every change.
//
// Files of an archive P:
//   P                 the archive image (see JsonDocument)
//   P.MD5             the digest text of P, alone
//   P.bak, P.MD5.bak  the backup pair, made by Backup
//   P.tmp, P.MD5.tmp, P.bak.tmp, P.MD5.bak.tmp
//                     pending files of a replacement under way (ArchiveFiles)
//
// Both pairs are only ever replaced as a whole (ArchiveFiles), so a power cut
// leaves each of them holding its old content or its new one.
#ifndef FWSETUP_PROPERTIES_PROPERTY_ARCHIVER_BASE_H
#define FWSETUP_PROPERTIES_PROPERTY_ARCHIVER_BASE_H

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/types.h"
#include "properties/archive_files.h"
#include "properties/json_document.h"
#include "properties/property.h"
#include "runtime/event_flags.h"
#include "runtime/orvel_mutex.h"
#include "runtime/thread.h"
#include "runtime/thread_factory.h"

// Lock order: fileLock before archiveLock before jsonLock. The saver takes
// archiveLock only while it writes the document into memory, so a change
// never waits for the disk.
class PropertyArchiverBase : public JsonDocument {
  public:
    // Bits of the saver's events.
    static const uint32_t kSaveRequested = 1;  // set by every change of the document
    static const uint32_t kStopRequested = 2;  // set by the destructor
    static const uint32_t kSaverStopped = 4;   // the saver's last act
    static const uint32_t kSaveWritten = 8;    // the last save replaced the archive pair
    static const uint32_t kSaveFailed = 16;    // the last save could not

    // Starts the saver thread (made by factory, at priority) at once; nothing
    // is read before Load.
    PropertyArchiverBase(const WString& path, std::shared_ptr<ThreadFactory> factory,
                         int32_t priority);
    // Stops the saver after it has written every save requested before.
    virtual ~PropertyArchiverBase();

    // Updates this archive's entries from the other archive's (MergeFrom of itself: nothing).
    virtual void MergeFrom(PropertyArchiverBase& other) = 0;
    // The property's value into its entry, which is appended when missing; true.
    virtual bool StoreProperty(std::shared_ptr<Property> property) = 0;
    // The "Value" of the given entry into this archive's entry of the same
    // "Name" and "Group"; true when there is one. Requests a save either way.
    virtual bool UpdateEntry(const rapidjson::Value& entry) = 0;
    // The stored text of the property; true when it has an entry.
    virtual bool GetPropertyValue(std::shared_ptr<Property> property, NString& text) = 0;
    // Appends an entry without looking for an existing one.
    virtual void AddEntry(const NString& id, const NString& groupId, const NString& groupName,
                          const NString& name, const NString& value) = 0;

    // The start-up load. A replacement that a power cut left half-done is
    // finished or discarded first. Then: without P.MD5, false. P matching
    // P.MD5 and loading: true. Otherwise, without P.MD5.bak, false; with a
    // whole backup pair, the backup replaces P and P.MD5 and is loaded; with a
    // damaged one, P and P.MD5 are deleted and the result is false. A failed
    // load leaves the document as it was.
    bool Load();
    // Whether the last Load took the backup in place of a damaged archive.
    bool LoadedFromBackup() const { return loadedFromBackup_; }
    // The document from an archive file; false when the file does not exist or
    // does not load.
    bool LoadFile(const WString& file);
    // Waits until every save requested before the call has been written, then
    // replaces the backup pair by copies of P and P.MD5. True when it did;
    // false, leaving the backup as it was, when P does not match P.MD5.
    bool Backup();
    // Waits until every save requested before the call has been made; true
    // when the last save replaced the archive pair.
    bool WaitForSaves();

    // While held, the saver writes nothing; requests made meanwhile are saved
    // once the last hold is released. WaitForSaves and Backup must not be
    // called while a hold is on. For callers that change the document and then
    // decide, by a Load, whether the change or the file wins.
    void HoldSaves();
    void ReleaseSaves();

    // A deep copy of the document, taken under the archive's lock.
    void CopyDocument(Document& into);

    const WString& Path() const { return path_; }
    EventFlags& SaverEvents() { return *saverEvents_; }

  protected:
    // Under archiveLock: one more save is due.
    void RequestSave();
    // Stops the saver (idempotent). The most derived destructor calls it first,
    // so that the saver never runs while a part of the object is destroyed.
    void StopSaver();

    // Held by every entry operation.
    OrvelMutex archiveLock_;

  private:
    static uint32_t SaverLoop(void* param);
    // The pair's data file matching its sidecar and loading, read once for both.
    bool LoadVerified(const ArchiveFiles::FilePair& pair);
    // One save: the document as it stands into the archive pair.
    void Save();

    ArchiveFiles::FilePair MainPair() const;
    ArchiveFiles::FilePair BackupPair() const;

    const WString path_;
    std::unique_ptr<EventFlags> saverEvents_;
    std::shared_ptr<Thread> saver_;
    // Held while the archive's files are read or replaced.
    OrvelMutex fileLock_;
    // Saves requested (under archiveLock) and saves made up to (a request count).
    uint64_t requested_;
    std::atomic<uint64_t> completed_;
    std::atomic<bool> lastSaveOk_;
    // Bit 1 set whenever completed_ grows; waited on by WaitForSaves.
    std::unique_ptr<EventFlags> progress_;
    uint32_t holds_;  // under archiveLock
    bool stopped_;
    bool loadedFromBackup_;  // under fileLock
};

#endif
