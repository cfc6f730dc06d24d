// The simulated EEPROM utility driver: the main-board EEPROM (32768 bytes) as
// the file DEVICE/hw/eeprom.bin. Anything there that is not a regular file (a
// link, a FIFO...) is a missing image: every transfer fails at once.
//
// Protocol of an open context (EPM1:):
// - SetFilePointer(offset, NULL, count) announces the next transfer: count bytes
//   at offset. It fails (and forgets any earlier announcement) when offset is
//   negative, a high part other than 0 is given, count is 0, or the span would
//   end past 32768. It answers offset.
// - Every ReadFile and WriteFile needs an announcement of its own; a transfer
//   uses it up, whatever the outcome. A transfer larger than announced fails.
// - ReadFile of n bytes delivers the image's bytes from offset; an image shorter
//   than the span delivers what it holds (possibly nothing). Without the image
//   file every read fails and delivers nothing.
// - WriteFile of the announced count writes those bytes. A shorter write fills
//   the announced span by repeating the bytes given: count 0x8000 at offset 0
//   followed by the single byte 0xFF erases the whole EEPROM. A write whose span
//   the image does not hold fully (missing or short file) fails and changes
//   nothing.
// - DeviceIoControl accepts the code 0x222004 without input or output buffers
//   and does nothing with it; every other request fails.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/devices.h"
#include "platform/host/safe_files.h"
#include "platform/host/stream_drivers.h"

namespace platform {
namespace host {
namespace {

const uint32_t kEepromSize = 0x8000;
const uint32_t kAcceptedControlCode = 0x222004;

bool ReadAt(int fd, uint8_t* buffer, uint32_t count, uint32_t offset, uint32_t& done) {
    done = 0;
    while (done < count) {
        const ssize_t n = pread(fd, buffer + done, count - done, offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        done += static_cast<uint32_t>(n);
    }
    return true;
}

bool WriteAt(int fd, const uint8_t* data, uint32_t count, uint32_t offset) {
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = pwrite(fd, data + done, count - done, offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        done += static_cast<uint32_t>(n);
    }
    return true;
}

class EepromDevice : public OpenStreamDevice {
  public:
    explicit EepromDevice(const std::string& device)
        : device_(device), announced_(false), offset_(0), count_(0) {}

    uint32_t Seek(int32_t distance, int32_t* distanceHigh, uint32_t moveMethod) {
        announced_ = false;
        if (distance < 0 || (distanceHigh && *distanceHigh != 0) || moveMethod == 0)
            return kInvalidSetFilePointer;
        const uint32_t offset = static_cast<uint32_t>(distance);
        if (offset > kEepromSize || moveMethod > kEepromSize - offset)
            return kInvalidSetFilePointer;
        announced_ = true;
        offset_ = offset;
        count_ = moveMethod;
        return offset;
    }

    bool Read(uint8_t* buffer, uint32_t count, uint32_t& done) {
        done = 0;
        if (!TakeAnnouncement(count))
            return false;
        UniqueFd fd(OpenImage(O_RDONLY));
        return fd.Valid() && ReadAt(fd.Get(), buffer, count, offset_, done);
    }

    bool Write(const uint8_t* data, uint32_t count, uint32_t& done) {
        done = 0;
        if (count == 0 || !TakeAnnouncement(count))
            return false;
        UniqueFd fd(OpenImage(O_WRONLY));
        if (!fd.Valid())
            return false;
        struct stat st;
        bool ok = fstat(fd.Get(), &st) == 0 &&
                  static_cast<uint64_t>(st.st_size) >= static_cast<uint64_t>(offset_) + count_;
        if (ok) {
            std::vector<uint8_t> span(count_);
            for (uint32_t i = 0; i < count_; ++i)
                span[i] = data[i % count];
            ok = WriteAt(fd.Get(), &span[0], count_, offset_);
        }
        if (close(fd.Release()) != 0)
            ok = false;
        if (ok)
            done = count;
        return ok;
    }

    bool IoControl(uint32_t code, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                   uint32_t outputSize, uint32_t& returned) {
        returned = 0;
        return code == kAcceptedControlCode && !input && inputSize == 0 && !output &&
               outputSize == 0;
    }

  private:
    // DEVICE/hw/eeprom.bin, only when it is a regular file (safe_files.h): a
    // link, a FIFO or anything else there is an EEPROM that cannot be read.
    int OpenImage(int access) const { return OpenFileBelow(device_, "hw/eeprom.bin", access); }

    // True when a transfer of count bytes was announced; the announcement is used up.
    bool TakeAnnouncement(uint32_t count) {
        const bool ok = announced_ && count <= count_;
        announced_ = false;
        return ok;
    }

    std::string device_;
    bool announced_;
    uint32_t offset_;
    uint32_t count_;
};

}  // namespace

OpenStreamDevice* OpenEepromDevice(const std::string& device, const std::string& legacyName) {
    (void)legacyName;
    return new EepromDevice(device);
}

}  // namespace host
}  // namespace platform
