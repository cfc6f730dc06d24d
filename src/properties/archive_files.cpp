#include "properties/archive_files.h"

#include <cstring>

#include "fileutil/file_operation.h"
#include "fileutil/md5.h"
#include "package/file_stream.h"
#include "platform/files.h"

namespace ArchiveFiles {
namespace {

// Puts path's data and its folder entry on stable storage.
bool Flush(const WString& path) {
    return platform::FlushFile(path);
}

// Deletes path when it is there; true when it is gone.
bool RemoveIfPresent(const WString& path) {
    return !FileOperation::FileExists(path) || FileOperation::RemoveFile(path);
}

// Writes size bytes into path (created or emptied) and flushes them.
bool WriteFile(const WString& path, const uint8_t* data, size_t size) {
    if (size > 0x7FFFFFFFu)
        return false;
    FileStream stream(path, StreamMode::Write | StreamMode::Truncate);
    if (!stream.IsGood())
        return false;
    const int written = size == 0 ? 0 : stream.Write(data, static_cast<uint32_t>(size));
    stream.Close();
    return written >= 0 && static_cast<size_t>(written) == size && stream.IsGood() && Flush(path);
}

// Steps 3 and 4: the complete pending pair takes the place of the pair. A
// change of names is on stable storage once its call returns.
bool Commit(const FilePair& pair, const WString& pendingData, const WString& pendingSidecar) {
    return RemoveIfPresent(pair.data) && RemoveIfPresent(pair.sidecar) &&
           FileOperation::MovePath(pendingData, pair.data) &&
           FileOperation::MovePath(pendingSidecar, pair.sidecar);
}

}  // namespace

WString PendingName(const WString& path) {
    return path + u".tmp";
}

bool IsWhole(const FilePair& pair) {
    return FileOperation::FileExists(pair.data) && FileOperation::FileExists(pair.sidecar) &&
           VerifyWithSidecar(pair.data, pair.sidecar);
}

bool WriteDigestText(const NString& digest, const WString& sidecar) {
    if (digest.empty())
        return false;
    return WriteFile(sidecar, reinterpret_cast<const uint8_t*>(digest.data()), digest.size());
}

NString DigestOf(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu)
        return NString();
    size_t at = 0;
    return ComputeMd5(
        [data, size, &at](uint8_t*& buffer, uint32_t& count) {
            const size_t n = size - at < count ? size - at : count;
            if (n > 0)
                std::memcpy(buffer, data + at, n);
            at += n;
        },
        static_cast<uint32_t>(size));
}

void Settle(const FilePair& pair) {
    const WString pendingData = PendingName(pair.data);
    const WString pendingSidecar = PendingName(pair.sidecar);
    const bool hasData = FileOperation::FileExists(pendingData);
    const bool hasSidecar = FileOperation::FileExists(pendingSidecar);
    if (hasData && hasSidecar) {
        if (VerifyWithSidecar(pendingData, pendingSidecar)) {
            Commit(pair, pendingData, pendingSidecar);
        } else {
            // The sidecar goes first: a cut in between leaves the data alone,
            // which is discarded again.
            FileOperation::RemoveFile(pendingSidecar);
            FileOperation::RemoveFile(pendingData);
        }
    } else if (hasData) {
        FileOperation::RemoveFile(pendingData);
    } else if (hasSidecar) {
        if (IsWhole(pair)) {
            FileOperation::RemoveFile(pendingSidecar);
        } else if (RemoveIfPresent(pair.sidecar)) {
            FileOperation::MovePath(pendingSidecar, pair.sidecar);
        }
    }
}

bool ReplaceWithBytes(const FilePair& pair, const uint8_t* data, size_t size) {
    Settle(pair);
    const WString pendingData = PendingName(pair.data);
    const WString pendingSidecar = PendingName(pair.sidecar);
    // A pending sidecar must not sit beside the new data while it is written.
    if (!RemoveIfPresent(pendingSidecar))
        return false;
    // The digest is taken of the bytes meant to be written, so that a write that
    // went wrong shows as a mismatch instead of being sealed by its own digest.
    if (!WriteFile(pendingData, data, size) ||
        !WriteDigestText(DigestOf(data, size), pendingSidecar)) {
        Settle(pair);
        return false;
    }
    return Commit(pair, pendingData, pendingSidecar);
}

bool ReplaceWithCopy(const FilePair& pair, const FilePair& source) {
    if (!FileOperation::FileExists(source.data) || !FileOperation::FileExists(source.sidecar))
        return false;
    Settle(pair);
    const WString pendingData = PendingName(pair.data);
    const WString pendingSidecar = PendingName(pair.sidecar);
    if (!RemoveIfPresent(pendingSidecar))
        return false;
    const bool copied =
        FileOperation::CopyFileTo(source.data, pendingData, true) && Flush(pendingData) &&
        FileOperation::CopyFileTo(source.sidecar, pendingSidecar, true) && Flush(pendingSidecar);
    // The copies are judged by their digest, not by the copy calls: copies that
    // match show that the source was whole as well, so it is not read twice.
    if (!copied || !VerifyWithSidecar(pendingData, pendingSidecar)) {
        Settle(pair);
        return false;
    }
    return Commit(pair, pendingData, pendingSidecar);
}

}  // namespace ArchiveFiles
