// Files, folders, free space and the runtime's file streams.
//
// Paths are device paths: absolute from the root of the device's single name
// space, "\" or "/" separating components, letter case ignored when matching
// existing entries. Every call answers with a result; none throws.
//
// What reaches stable storage: a file's data once FlushFile has flushed it; a
// change of names (a created, moved or deleted entry, a folder made or removed,
// changed attributes) once its call has returned. A power cut loses whatever
// data was written to a file but not flushed since.
#ifndef FWSETUP_PLATFORM_FILES_H
#define FWSETUP_PLATFORM_FILES_H

#include <cstdint>
#include <ios>
#include <memory>
#include <streambuf>

#include "platform/types.h"

namespace platform {

const uint32_t kFileAttributeReadOnly = 0x01;
const uint32_t kFileAttributeDirectory = 0x10;
const uint32_t kFileAttributeArchive = 0x20;
const uint32_t kFileAttributeNormal = 0x80;
// What GetFileAttributes answers for a path that does not exist.
const uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// GetFileAttributesW.
uint32_t GetFileAttributes(const WString& path);
// SetFileAttributesW: only the read-only bit has an effect; kFileAttributeNormal clears it.
bool SetFileAttributes(const WString& path, uint32_t attributes);
// DeleteFileW: files only; a read-only file resists.
bool DeleteFile(const WString& path);
// MoveFileW: files and folders; fails when the destination exists.
bool MoveFile(const WString& from, const WString& to);
// CopyFileW: files only; with failIfExists an existing destination fails the call.
bool CopyFile(const WString& from, const WString& to, bool failIfExists);
// CreateDirectoryW: the parent must exist, the folder must not.
bool CreateDirectory(const WString& path);
// RemoveDirectoryW: the folder must be empty.
bool RemoveDirectory(const WString& path);
// GetDiskFreeSpaceExW; any out pointer may be null.
bool GetDiskFreeSpaceEx(const WString& path, uint64_t* freeBytesAvailableToCaller,
                        uint64_t* totalBytes, uint64_t* totalFreeBytes);

// The runtime's remove() of a narrow path (files only).
bool RemoveNarrow(const NString& path);
// The runtime's _wrename(): files and folders; fails when the new name exists.
bool Rename(const WString& from, const WString& to);

// One entry of a folder search.
struct FindData {
    uint32_t attributes;
    WString name;  // the entry's own name, without its folder
};

// An open folder search (FindFirstFileW ... FindClose); destroying it closes it.
class FileSearch {
  public:
    virtual ~FileSearch() {}
    // FindNextFileW: false when there is no further entry.
    virtual bool Next(FindData& entry) = 0;
};

// FindFirstFileW: pattern is a folder followed by a last component that may hold
// "*" and "?", matched without regard to ASCII case ("*.*" matches every name,
// also one without a dot). Entries come in the byte order of their names; the
// search yields no "." or ".." entries. Null when the search cannot be opened or
// nothing matches; otherwise first holds the first entry.
std::unique_ptr<FileSearch> FindFirstFile(const WString& pattern, FindData& first);

// FlushFileBuffers: the file's data and its folder entry reach stable storage;
// false when the path is not a file or the flush failed. Bytes that a stream
// still holds in its own buffer are not the file's yet: flush or close the
// stream first (FileStream flushes at every Write).
bool FlushFile(const WString& path);

// The buffer of one of the runtime's buffered binary file streams, open on a
// file of the device. Hand it to a std::istream, std::ostream or std::iostream;
// reading, writing and seeking share one file position. Destroying it flushes
// and closes the file.
class FileBuffer : public std::streambuf {
  public:
    virtual ~FileBuffer() {}
    // Flushes what is buffered and closes the file; false when either failed or
    // the file was closed already. Every later transfer fails.
    virtual bool Close() = 0;
    // True once a read or a write of the file failed (an error, not the end of
    // the file); a failed read ends the data the way the end of the file does.
    virtual bool Failed() const = 0;
};

// Opens a file of the device for a stream (binary, shared for reading and
// writing), with the runtime's open modes, binary implied:
//   in                      an existing file, for reading
//   out, out|trunc          created or emptied, for writing
//   out|app, app            created or kept, every write at the end
//   in|out                  an existing file, for reading and writing
//   in|out|trunc            created or emptied, for reading and writing
//   in|out|app, in|app      created or kept, reading anywhere, writing at the end
// and with ate also placed at the end once open. Any other combination, a path
// that is not a file, a read-only file opened for writing, or a new file whose
// folder does not exist: null.
std::unique_ptr<FileBuffer> OpenFileBuffer(const WString& path, std::ios_base::openmode mode);

}  // namespace platform

#endif
