// Host only: the power-cut fault injector, for tests.
//
// While DEVICE/hw/power-cut-after holds a decimal count N (1 or more), the Nth
// counted file operation that this process makes through the platform's file
// calls does not take effect: the power is cut there. What a real power cut
// loses is lost, and from then on every file call of the process fails (also
// the ones that only look: attributes, searches, opening and reading streams)
// and no program starts, as if the printer had no power.
//
// The model of what survives a cut:
// - A file's data is durable once FlushFile has flushed it. At the cut, every
//   file whose data this process changed (stream writes, emptying it when a
//   stream opens it, copying onto it) reverts to what it held at its last
//   flush by this process, or at the moment this process first changed it; a
//   file that this process created holds nothing then.
// - Namespace operations are durable once they return: a created, moved or
//   deleted entry, a created or removed folder, and changed attributes stay so.
// - Counted operations, each with the kind recorded for it:
//     open            a file stream opens and thereby creates or empties a file
//     write           a stream hands bytes to its file (a FileStream does so at
//                     every Write, at most 64 KiB of buffered bytes per transfer
//                     otherwise)
//     flush           FlushFile
//     move            MoveFile, Rename
//     copy            CopyFile
//     delete          DeleteFile, RemoveNarrow
//     create-folder   CreateDirectory
//     remove-folder   RemoveDirectory
//     set-attributes  SetFileAttributes
//   A call that fails before it would change anything (a missing source, a
//   name that exists) is not counted.
// - At the cut the injector writes DEVICE/hw/power-cut-happened (not counted):
//   "N kind" on the first line, then "pid P" and "path DEVICE-PATH" lines.
// - A count of 0, or a file that does not hold a decimal count, means the power
//   is off from the start: nothing changes and power-cut-happened says "0 start".
//
// The count file is read once per process and device: when the process first
// uses a device folder, when SetDeviceRoot names one, and again in a child
// after fork. Without the file the injector costs a comparison per call.
// Only this process's own calls through src/platform are counted: programs it
// starts, and the registry, stream drivers and named objects, are not. A
// process that holds the platform layer twice (the installer with a loaded
// setup module) counts each copy on its own; the first cut stops both, the
// other copy losing its own unflushed data when it next makes a file call.
#ifndef FWSETUP_PLATFORM_HOST_POWER_CUT_H
#define FWSETUP_PLATFORM_HOST_POWER_CUT_H

#include "platform/types.h"

namespace platform {
namespace host {

enum PowerCutOperation {
    kCutOpen,
    kCutWrite,
    kCutFlush,
    kCutMove,
    kCutCopy,
    kCutDelete,
    kCutCreateFolder,
    kCutRemoveFolder,
    kCutSetAttributes,
};

// False once the power is off. Every file call asks first; nothing is counted.
bool PowerIsOn();

// One counted operation, from just before its effect to its end. Allowed()
// says whether it may take effect; while an armed injector lets it, the
// injector's lock is held so that a cut in another thread cannot come between.
class PowerCutGuard {
  public:
    PowerCutGuard(PowerCutOperation kind, const WString& path);
    ~PowerCutGuard();
    bool Allowed() const { return allowed_; }

  private:
    PowerCutGuard(const PowerCutGuard&);
    PowerCutGuard& operator=(const PowerCutGuard&);

    bool allowed_;
    bool locked_;
};

// Before this process changes the data of an open file (fd is any descriptor
// of it): the injector remembers what the file holds, so that a cut can give
// it back. Does nothing while the injector is not armed or already holds it.
void WillChangeData(int fd);
// After the file's data reached stable storage: a cut leaves it as it is now.
void DataFlushed(int fd);

// Forgets what was read for the current device, so that the next call reads
// DEVICE/hw/power-cut-after again (SetDeviceRoot calls it).
void ResetPowerCut();

}  // namespace host
}  // namespace platform

#endif
