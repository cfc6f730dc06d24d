// Driver protocol: the driver is registered under HKEY_LOCAL_MACHINE\Drivers\EEpromUtil
// and activated by that key; its device EPM1: is opened for reading and writing
// and sent control code 0x222004 (no buffers). Every transfer is announced by
// SetFilePointer(device, offset, NULL, byte count) and then done with ReadFile or
// WriteFile of that count.
#include "eeprom/wec_eeprom_handler.h"

#include <algorithm>

#include "fileutil/crc16.h"
#include "package/file_stream.h"
#include "platform/registry.h"

namespace {

using namespace EEPromLayout;

const char16_t kDriverKey[] = u"Drivers\\EEpromUtil";
const char16_t kDriverPrefix[] = u"EPM";
const uint32_t kDriverIndex = 1;
const char16_t kDriverDll[] = u"\\boot\\EEPromUtilDriver.dll";
const char16_t kDeviceName[] = u"EPM1:";
const char16_t kDeviceSearchPattern[] = u"EPM*";
const uint32_t kDeviceIoControlCode = 0x222004;

bool IsValidIndex(int index) {
    return index >= 0 && static_cast<uint32_t>(index) < kDirectoryEntryCount;
}

// REG_SZ data: the text's UTF-16 units, little-endian, with the terminating zero.
ByteVector RegistryText(const WString& text) {
    ByteVector bytes;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char16_t unit = i < text.size() ? text[i] : 0;
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

ByteVector RegistryDword(uint32_t value) {
    ByteVector bytes;
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return bytes;
}

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'z')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'Z')
        return c - u'A' + 10;
    return 99;
}

// A number in the form wcstol reads (leading white space, an optional "+",
// base 0 or 16 with an optional "0x", base 0 with "0" for octal), but the whole
// text must be the number, it must not be negative and not exceed maximum.
bool ParseNumber(const WString& text, int base, uint32_t maximum, uint32_t& value) {
    if (base != 0 && (base < 2 || base > 36))
        return false;
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    if (i < text.size() && text[i] == u'+')
        ++i;
    const bool hexPrefix = i + 1 < text.size() && text[i] == u'0' &&
                           (text[i + 1] == u'x' || text[i + 1] == u'X') && i + 2 < text.size() &&
                           DigitValue(text[i + 2]) < 16;
    if (base == 0) {
        if (hexPrefix)
            base = 16;
        else if (i < text.size() && text[i] == u'0')
            base = 8;
        else
            base = 10;
    }
    if (base == 16 && hexPrefix)
        i += 2;
    if (i >= text.size())
        return false;
    uint64_t number = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i]);
        if (digit >= base)
            return false;
        number = number * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (number > maximum)
            return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

// The whole file; false when it cannot be opened or read, or is too large for a region.
bool ReadWholeFile(const WString& path, ByteVector& bytes) {
    FileStream file(path, StreamMode::Read);
    if (!file.IsGood())
        return false;
    const uint32_t size = file.Size();
    if (size > kMaxPayload)
        return false;
    bytes = file.ReadAll();
    return bytes.size() == size;
}

bool WriteWholeFile(const WString& path, const ByteVector& bytes) {
    FileStream file(path, static_cast<uint8_t>(StreamMode::Write | StreamMode::Truncate));
    if (!file.IsGood())
        return false;
    const int written = file.Write(bytes);
    file.Close();
    return written >= 0 && static_cast<size_t>(written) == bytes.size() && file.IsGood();
}

// Where a new region goes: the first multiple of 64 after the end of the
// highest-placed present region, 64 when there is none.
uint64_t NextFreeOffset(const std::vector<EEPromDirectoryEntry>& directory) {
    uint64_t end = kHeaderSize;
    for (size_t i = 0; i < directory.size(); ++i) {
        if (directory[i].IsPresent()) {
            const uint64_t regionEnd =
                static_cast<uint64_t>(directory[i].offset) + directory[i].length;
            if (regionEnd > end)
                end = regionEnd;
        }
    }
    return AlignUp(end);
}

}  // namespace

WecEEPromHandler::WecEEPromHandler()
    : activation_(platform::kInvalidDeviceHandle), device_(platform::kInvalidDeviceHandle) {
    ActivateDriver();
    OpenDevice();
    if (ReadDirectory())
        RepairDirectory();
}

WecEEPromHandler::~WecEEPromHandler() {
    if (device_ != platform::kInvalidDeviceHandle)
        platform::CloseHandle(device_);
    if (activation_ != platform::kInvalidDeviceHandle) {
        // A search handle (driver found loaded) is no activation: the driver stays.
        platform::DeactivateDevice(activation_);
        platform::CloseHandle(activation_);
    }
}

void WecEEPromHandler::ActivateDriver() {
    platform::DeviceInformation info;
    info.size = platform::kDeviceInformationSize;
    const platform::DeviceHandle search =
        platform::FindFirstDevice(platform::kDeviceSearchByDeviceName, kDeviceSearchPattern, info);
    if (search != platform::kInvalidDeviceHandle) {
        activation_ = search;
        return;
    }

    platform::RegKey key = platform::kNullRegKey;
    if (platform::RegCreateKeyEx(platform::kHKeyLocalMachine, kDriverKey, key, 0) ==
        platform::kErrorSuccess) {
        const ByteVector prefix = RegistryText(kDriverPrefix);
        const ByteVector index = RegistryDword(kDriverIndex);
        const ByteVector dll = RegistryText(kDriverDll);
        platform::RegSetValueEx(key, u"Prefix", platform::kRegSz, &prefix[0],
                                static_cast<uint32_t>(prefix.size()));
        platform::RegSetValueEx(key, u"Index", platform::kRegDword, &index[0],
                                static_cast<uint32_t>(index.size()));
        platform::RegSetValueEx(key, u"Dll", platform::kRegSz, &dll[0],
                                static_cast<uint32_t>(dll.size()));
        platform::RegFlushKey(key);
        platform::RegCloseKey(key);
    }
    const platform::DeviceHandle activated = platform::ActivateDeviceEx(kDriverKey);
    activation_ =
        (activated == platform::kNullDeviceHandle) ? platform::kInvalidDeviceHandle : activated;
}

void WecEEPromHandler::OpenDevice() {
    if (activation_ != platform::kInvalidDeviceHandle) {
        device_ =
            platform::CreateFile(kDeviceName, platform::kGenericRead | platform::kGenericWrite, 0,
                                 platform::kOpenExisting);
    }
    // The driver's answer does not matter.
    platform::DeviceIoControl(device_, kDeviceIoControlCode, 0, 0, 0, 0, 0);
}

bool WecEEPromHandler::IsOpen() const {
    return device_ != platform::kInvalidDeviceHandle;
}

ByteVector WecEEPromHandler::Read(uint32_t offset, uint32_t count) {
    if (!IsOpen() || !SpanFits(offset, count))
        return ByteVector();
    ByteVector bytes(count, 0);
    if (platform::SetFilePointer(device_, static_cast<int32_t>(offset), 0, count) ==
        platform::kInvalidSetFilePointer)
        return ByteVector();
    uint32_t delivered = 0;
    const bool ok = platform::ReadFile(device_, &bytes[0], count, &delivered);
    if (!ok && delivered == 0)
        return ByteVector();
    bytes.resize(delivered < count ? delivered : count);
    return bytes;
}

bool WecEEPromHandler::WriteSpan(uint32_t offset, uint32_t count, const ByteVector& data) {
    if (!IsOpen() || data.empty() || data.size() > count || !SpanFits(offset, count))
        return false;
    if (platform::SetFilePointer(device_, static_cast<int32_t>(offset), 0, count) ==
        platform::kInvalidSetFilePointer)
        return false;
    uint32_t written = 0;
    const uint32_t size = static_cast<uint32_t>(data.size());
    return platform::WriteFile(device_, &data[0], size, &written) && written == size;
}

bool WecEEPromHandler::ReadDirectory() {
    const ByteVector raw = Read(kDirectoryOffset, kDirectorySize);
    if (raw.size() != kDirectorySize)
        return false;
    directory_.clear();
    for (uint32_t i = 0; i < kDirectoryEntryCount; ++i) {
        const uint8_t* entry = &raw[i * kDirectoryEntrySize];
        directory_.push_back(
            EEPromDirectoryEntry(static_cast<uint16_t>(entry[0] | (entry[1] << 8)),
                                 static_cast<uint16_t>(entry[2] | (entry[3] << 8))));
    }
    return true;
}

void WecEEPromHandler::RepairDirectory() {
    if (directory_.empty() || directory_[0].IsPresent())
        return;
    directory_[0] = EEPromDirectoryEntry(kRepairOffset, kRepairLength);
    const ByteVector region = ReadRegion(0);
    if (region.size() != kRepairLength)
        return;
    for (size_t i = 0; i < region.size(); ++i) {
        if (region[i] == kErasedByte) {
            if (i > 0) {
                directory_[0].length = static_cast<uint16_t>(i);
                WriteDirectory();
            }
            return;
        }
    }
}

bool WecEEPromHandler::ReadHeader(ByteVector& header) {
    header = Read(0, kHeaderSize);
    return header.size() == kHeaderSize;
}

bool WecEEPromHandler::WriteDirectory() {
    if (directory_.size() != kDirectoryEntryCount)
        return false;
    ByteVector header;
    if (!ReadHeader(header))
        return false;
    for (uint32_t i = 0; i < kDirectoryEntryCount; ++i) {
        uint8_t* entry = &header[kDirectoryOffset + i * kDirectoryEntrySize];
        entry[0] = static_cast<uint8_t>(directory_[i].offset & 0xFF);
        entry[1] = static_cast<uint8_t>(directory_[i].offset >> 8);
        entry[2] = static_cast<uint8_t>(directory_[i].length & 0xFF);
        entry[3] = static_cast<uint8_t>(directory_[i].length >> 8);
    }
    const bool written = WriteSpan(0, kHeaderSize, header);
    ReadDirectory();
    return written;
}

ByteVector WecEEPromHandler::ReadRegion(int index) {
    if (!IsValidIndex(index) || static_cast<size_t>(index) >= directory_.size())
        return ByteVector();
    const EEPromDirectoryEntry& entry = directory_[index];
    if (!entry.IsPresent() || !SpanFits(entry.offset, entry.length))
        return ByteVector();
    ByteVector region = Read(entry.offset, entry.length);
    if (region.size() != entry.length)
        return ByteVector();
    return region;
}

bool WecEEPromHandler::ReadRegionToFile(int index, const WString& path) {
    const ByteVector region = ReadRegion(index);
    if (region.empty())
        return false;
    return WriteWholeFile(path, region);
}

bool WecEEPromHandler::VerifyRegion(int index, const WString& path) {
    const ByteVector region = ReadRegion(index);
    if (region.size() < kCrcSize)
        return false;
    ByteVector file;
    FileStream stream(path, StreamMode::Read);
    if (!stream.IsGood())
        return false;
    const uint32_t size = stream.Size();
    if (size != region.size() - kCrcSize)
        return false;
    file = stream.ReadAll();
    return file.size() == size && std::equal(file.begin(), file.end(), region.begin() + kCrcSize);
}

bool WecEEPromHandler::WriteRegionFromFile(int index, const WString& path) {
    if (!IsOpen() || !IsValidIndex(index) || directory_.size() != kDirectoryEntryCount)
        return false;
    ByteVector payload;
    if (!ReadWholeFile(path, payload))
        return false;
    const uint16_t crc = Crc16::Compute(payload);
    ByteVector stored;
    stored.reserve(payload.size() + kCrcSize);
    stored.push_back(static_cast<uint8_t>(crc & 0xFF));
    stored.push_back(static_cast<uint8_t>(crc >> 8));
    stored.insert(stored.end(), payload.begin(), payload.end());
    const uint16_t storedLength = static_cast<uint16_t>(stored.size());

    // Plan every placement first: nothing is written unless all of it fits.
    std::vector<EEPromDirectoryEntry> planned = directory_;
    std::vector<ByteVector> contents(kDirectoryEntryCount);
    std::vector<int> order;
    contents[index] = stored;
    order.push_back(index);
    const EEPromDirectoryEntry current = planned[index];
    if (current.IsPresent() && current.length == storedLength) {
        // Same size: overwritten in place.
    } else if (current.IsPresent()) {
        // The size changes: the region stays where it starts, the ones after it
        // move behind the highest-placed region.
        for (uint32_t later = index + 1; later < kDirectoryEntryCount; ++later) {
            if (!planned[later].IsPresent())
                continue;
            contents[later] = ReadRegion(static_cast<int>(later));
            if (contents[later].empty())
                return false;
            planned[later] = EEPromDirectoryEntry();
            order.push_back(static_cast<int>(later));
        }
        planned[index].length = storedLength;
        for (size_t k = 1; k < order.size(); ++k) {
            const uint64_t offset = NextFreeOffset(planned);
            if (!SpanFits(offset, contents[order[k]].size()))
                return false;
            planned[order[k]] = EEPromDirectoryEntry(
                static_cast<uint16_t>(offset), static_cast<uint16_t>(contents[order[k]].size()));
        }
    } else {
        const uint64_t offset = NextFreeOffset(planned);
        if (!SpanFits(offset, storedLength))
            return false;
        planned[index] = EEPromDirectoryEntry(static_cast<uint16_t>(offset), storedLength);
    }

    // Every write, padded, stays clear of the header block, inside the EEPROM and
    // off every region that keeps its bytes (those not rewritten later on).
    for (size_t k = 0; k < order.size(); ++k) {
        const EEPromDirectoryEntry& target = planned[order[k]];
        const uint64_t padded = AlignUp(target.length);
        if (target.offset < kHeaderSize || !SpanFits(target.offset, padded))
            return false;
        for (uint32_t other = 0; other < kDirectoryEntryCount; ++other) {
            if (static_cast<int>(other) == order[k] || !planned[other].IsPresent())
                continue;
            bool rewrittenLater = false;
            for (size_t m = k + 1; m < order.size(); ++m)
                rewrittenLater = rewrittenLater || order[m] == static_cast<int>(other);
            if (!rewrittenLater &&
                SpansOverlap(target.offset, padded, planned[other].offset, planned[other].length))
                return false;
        }
    }

    bool ok = true;
    for (size_t k = 0; k < order.size(); ++k) {
        EEPromDirectoryEntry& target = planned[order[k]];
        if (ok) {
            ByteVector padded = contents[order[k]];
            padded.resize(static_cast<size_t>(AlignUp(padded.size())), kErasedByte);
            ok = WriteSpan(target.offset, static_cast<uint32_t>(padded.size()), padded);
        }
        // A region whose write failed or never happened holds no trustworthy bytes.
        if (!ok)
            target = EEPromDirectoryEntry();
    }
    directory_ = planned;
    return WriteDirectory() && ok;
}

bool WecEEPromHandler::Format() {
    if (!WriteSpan(0, kSize, ByteVector(1, kErasedByte)))
        return false;
    const bool marked = WriteHeaderByte(kFormatMarkerPosition, u"0xA6", 16);
    // The old directory is gone with the rest.
    ReadDirectory();
    return marked;
}

bool WecEEPromHandler::WriteHeaderValue(int position, uint32_t value, uint32_t byteCount) {
    if (position < 0 || static_cast<uint32_t>(position) + byteCount > kHeaderFieldsEnd)
        return false;
    ByteVector header;
    if (!ReadHeader(header))
        return false;
    for (uint32_t i = 0; i < byteCount; ++i)
        header[position + i] = static_cast<uint8_t>(value >> (8 * i));
    return WriteSpan(0, kHeaderSize, header);
}

bool WecEEPromHandler::WriteHeaderByte(int position, const WString& text, int base) {
    uint32_t value = 0;
    if (!ParseNumber(text, base, 0xFF, value))
        return false;
    return WriteHeaderValue(position, value, 1);
}

bool WecEEPromHandler::WriteHeaderWord(int position, const WString& text, int base) {
    uint32_t value = 0;
    if (!ParseNumber(text, base, 0xFFFF, value))
        return false;
    return WriteHeaderValue(position, value, 2);
}

bool WecEEPromHandler::WriteHeaderFlag(int position, const WString& text) {
    return WriteHeaderByte(position, text == u"1" ? u"0xA5" : u"0x00", 16);
}

bool WecEEPromHandler::DumpHeader(const WString& path) {
    ByteVector header;
    if (!ReadHeader(header))
        return false;
    return WriteWholeFile(path, header);
}
