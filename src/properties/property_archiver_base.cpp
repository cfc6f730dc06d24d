#include "properties/property_archiver_base.h"

#include <mutex>

#include "fileutil/file_operation.h"
#include "fileutil/md5.h"
#include "package/file_stream.h"
#include "package/memory_stream.h"

namespace {
// The one bit of the progress events: completed_ grew.
const uint32_t kProgress = 1;
}  // namespace

PropertyArchiverBase::PropertyArchiverBase(const WString& path,
                                           std::shared_ptr<ThreadFactory> factory, int32_t priority)
    : path_(path),
      saverEvents_(WecEventFlags::Create(true)),
      requested_(0),
      completed_(0),
      lastSaveOk_(true),
      progress_(WecEventFlags::Create(false)),
      holds_(0),
      stopped_(false),
      loadedFromBackup_(false) {
    if (factory)
        saver_ = std::shared_ptr<Thread>(factory->Create(SaverLoop, priority, 0));
    if (saver_)
        saver_->Start(this, "JsonPropertyArchiver");
}

PropertyArchiverBase::~PropertyArchiverBase() {
    StopSaver();
}

ArchiveFiles::FilePair PropertyArchiverBase::MainPair() const {
    return ArchiveFiles::FilePair(path_, path_ + u".MD5");
}

ArchiveFiles::FilePair PropertyArchiverBase::BackupPair() const {
    return ArchiveFiles::FilePair(path_ + u".bak", path_ + u".MD5.bak");
}

bool PropertyArchiverBase::Load() {
    std::lock_guard<OrvelMutex> holdFiles(fileLock_);
    loadedFromBackup_ = false;
    const ArchiveFiles::FilePair main = MainPair();
    const ArchiveFiles::FilePair backup = BackupPair();
    ArchiveFiles::Settle(main);
    ArchiveFiles::Settle(backup);
    if (!FileOperation::FileExists(main.sidecar))
        return false;
    if (LoadVerified(main))
        return true;
    if (!FileOperation::FileExists(backup.sidecar))
        return false;
    if (!ArchiveFiles::IsWhole(backup)) {
        FileOperation::RemoveFile(main.data);
        FileOperation::RemoveFile(main.sidecar);
        return false;
    }
    // The backup takes the place of the damaged pair as a whole: a cut during
    // the copy leaves the damaged pair, and this runs again at the next load.
    ArchiveFiles::ReplaceWithCopy(main, backup);
    loadedFromBackup_ = LoadFile(backup.data);
    return loadedFromBackup_;
}

bool PropertyArchiverBase::LoadVerified(const ArchiveFiles::FilePair& pair) {
    ByteVector bytes;
    {
        FileStream stream(pair.data, StreamMode::Read);
        if (!stream.IsGood())
            return false;
        // A file far longer than any text that loads is checked and read in two passes,
        // so that it is never held in memory whole.
        const uint64_t longest =
            static_cast<uint64_t>(HeaderSize()) + kLengthSize + LoadLimit() + 1;
        if (stream.Size() > longest) {
            stream.Close();
            return VerifyWithSidecar(pair.data, pair.sidecar) && LoadFile(pair.data);
        }
        // One byte more than the file for the zero after the text, which the
        // parse in place needs.
        const uint32_t size = stream.Size();
        bytes.resize(static_cast<size_t>(size) + 1);
        const int read = size == 0 ? 0 : stream.Read(&bytes[0], size);
        if (read < 0 || static_cast<uint32_t>(read) != size)
            return false;
    }
    const size_t size = bytes.size() - 1;
    if (!SameDigest(ArchiveFiles::DigestOf(&bytes[0], size), SidecarDigest(pair.sidecar)))
        return false;
    std::lock_guard<OrvelMutex> hold(archiveLock_);
    return LoadFromBuffer(&bytes[0], static_cast<uint32_t>(bytes.size()));
}

bool PropertyArchiverBase::LoadFile(const WString& file) {
    if (!FileOperation::FileExists(file))
        return false;
    FileStream stream(file, StreamMode::Read);
    std::lock_guard<OrvelMutex> hold(archiveLock_);
    return LoadFromStream(stream);
}

bool PropertyArchiverBase::Backup() {
    WaitForSaves();
    std::lock_guard<OrvelMutex> holdFiles(fileLock_);
    const ArchiveFiles::FilePair main = MainPair();
    ArchiveFiles::Settle(main);
    return ArchiveFiles::ReplaceWithCopy(BackupPair(), main);
}

bool PropertyArchiverBase::WaitForSaves() {
    uint64_t target;
    {
        std::lock_guard<OrvelMutex> hold(archiveLock_);
        target = requested_;
    }
    if (completed_.load() < target) {
        if (saver_ && saver_->IsStarted()) {
            const std::atomic<uint64_t>& completed = completed_;
            progress_->WaitUntil(
                [&completed, target](uint32_t) { return completed.load() >= target; });
        } else {
            Save();  // no saver thread to do it
        }
    }
    return lastSaveOk_.load();
}

void PropertyArchiverBase::HoldSaves() {
    // Taking the file lock waits for a save that is writing at this moment.
    std::lock_guard<OrvelMutex> holdFiles(fileLock_);
    std::lock_guard<OrvelMutex> hold(archiveLock_);
    ++holds_;
}

void PropertyArchiverBase::ReleaseSaves() {
    std::lock_guard<OrvelMutex> hold(archiveLock_);
    if (holds_ > 0)
        --holds_;
    if (holds_ == 0 && requested_ > completed_.load())
        saverEvents_->Set(kSaveRequested);
}

void PropertyArchiverBase::CopyDocument(Document& into) {
    std::lock_guard<OrvelMutex> hold(archiveLock_);
    into.CopyFrom(GetDocument(), into.GetAllocator());
}

void PropertyArchiverBase::RequestSave() {
    ++requested_;
    saverEvents_->Set(kSaveRequested);
}

void PropertyArchiverBase::StopSaver() {
    {
        std::lock_guard<OrvelMutex> hold(archiveLock_);
        if (stopped_)
            return;
        stopped_ = true;
        // A held save is not dropped: it is written before the saver ends.
        holds_ = 0;
        if (requested_ > completed_.load())
            saverEvents_->Set(kSaveRequested);
    }
    if (saver_ && saver_->IsStarted()) {
        saverEvents_->Set(kStopRequested);
        saverEvents_->WaitAny(kSaverStopped);
    } else {
        Save();
    }
    saver_.reset();
}

uint32_t PropertyArchiverBase::SaverLoop(void* param) {
    PropertyArchiverBase* archive = static_cast<PropertyArchiverBase*>(param);
    EventFlags& events = *archive->saverEvents_;
    const uint32_t mask = kSaveRequested | kStopRequested;
    uint32_t seen = events.WaitAny(mask) & mask;
    if (seen != kStopRequested) {
        for (;;) {
            if (seen & kSaveRequested)
                archive->Save();
            // A save requested together with the stop has just been made.
            if (seen & kStopRequested)
                break;
            seen = events.WaitAny(mask) & mask;
            if (seen == kStopRequested)
                break;
        }
    }
    events.Set(kSaverStopped);
    return 0;
}

void PropertyArchiverBase::Save() {
    MemoryStream image;
    uint64_t upTo;
    bool ok;
    {
        std::lock_guard<OrvelMutex> hold(archiveLock_);
        upTo = requested_;
        if (holds_ > 0 || upTo == completed_.load())
            return;  // held (the release asks again), or nothing new since the last save
        ok = SaveToStream(image);
    }
    {
        std::lock_guard<OrvelMutex> holdFiles(fileLock_);
        {
            std::lock_guard<OrvelMutex> hold(archiveLock_);
            if (holds_ > 0)
                return;  // a hold came while the image was made
        }
        const ByteVector& bytes = image.Bytes();
        ok = ok && ArchiveFiles::ReplaceWithBytes(MainPair(), bytes.empty() ? 0 : &bytes[0],
                                                  bytes.size());
    }
    lastSaveOk_.store(ok);
    saverEvents_->Clear(ok ? kSaveFailed : kSaveWritten);
    saverEvents_->Set(ok ? kSaveWritten : kSaveFailed);
    completed_.store(upTo);
    progress_->Set(kProgress);
}
