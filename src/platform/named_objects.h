// Named kernel objects shared between processes: memory mappings, mutexes and
// events. Names are wide strings such as "Global\NAME".
//
// Destroying an object's handle closes it (CloseHandle). Every call answers
// with a result; none throws (allocation failures aside).
#ifndef FWSETUP_PLATFORM_NAMED_OBJECTS_H
#define FWSETUP_PLATFORM_NAMED_OBJECTS_H

#include <cstdint>
#include <memory>

#include "platform/types.h"

namespace platform {

// The SYNCHRONIZE access right.
const uint32_t kSynchronize = 0x100000;

// A mapped view of a file mapping (MapViewOfFile ... UnmapViewOfFile).
class MappedView {
  public:
    virtual ~MappedView() {}
    virtual uint8_t* Data() = 0;
    virtual uint32_t Size() const = 0;
};

// A named mapping of shared memory (CreateFileMappingW without a file).
class FileMapping {
  public:
    virtual ~FileMapping() {}
    // MapViewOfFile with write access of size bytes from offset 0; null when the
    // view cannot be made (for example larger than the mapping).
    virtual std::unique_ptr<MappedView> MapView(uint32_t size) = 0;
};

// CreateFileMappingW(INVALID_HANDLE_VALUE, PAGE_READWRITE, size, name): opens
// the mapping of that name, or creates it zero-filled with size bytes when it is
// missing. Null on failure.
std::unique_ptr<FileMapping> CreateFileMapping(const WString& name, uint32_t size);

// A named mutex, shared across processes.
class NamedMutex {
  public:
    virtual ~NamedMutex() {}
    // WaitForSingleObject without time-out; false when the wait failed.
    virtual bool Wait() = 0;
    // ReleaseMutex; false when this handle did not own it.
    virtual bool Release() = 0;
};

// CreateMutexW(not initially owned, name): opens the mutex of that name or
// creates it. Null on failure.
std::unique_ptr<NamedMutex> CreateMutex(const WString& name);

// A named event.
class NamedEvent {
  public:
    virtual ~NamedEvent() {}
    // SetEvent.
    virtual bool Set() = 0;
    // Waits at most timeoutMs milliseconds for the event; true when it was set
    // (the wait resets it). Only the creator's handle can wait; an opened one
    // answers false at once.
    virtual bool Wait(uint32_t timeoutMs) = 0;
};

// CreateEventW(auto-reset, not signalled, name), as the process that serves
// the event does. Null on failure.
std::unique_ptr<NamedEvent> CreateEvent(const WString& name);

// OpenEventW(access, inherit, name): the event of that name, or null when it
// does not exist, which includes the case that the process that created it
// has closed it or is gone.
std::unique_ptr<NamedEvent> OpenEvent(uint32_t access, bool inheritHandle, const WString& name);

}  // namespace platform

#endif
