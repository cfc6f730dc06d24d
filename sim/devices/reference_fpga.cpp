// The reference FPGA's configuration port, the simulator's own design.
//
// Selections. The port works in selections: what passes on the FPGA's SPI
// master while its chip-select pin is low (fpga.h). A new selection starts at
// every falling edge of the pin. The first byte written in a selection is the
// command, the bytes written after it are its operands, and the reads of the
// selection answer it. Reads before a command, reads that a command does not
// answer and reads past an answer give 0xFF; operand bytes beyond what a
// command takes are ignored. Values are sent most significant byte first.
//
// Commands:
//   0x01 IDENTIFY          reads: the device id 0x0F9A2301 (4 bytes)
//   0x02 STATUS            reads: the status byte, once per byte read
//   0x10 ENABLE 5A A5      enters configuration mode; the running image stops:
//                          DONE, ERROR and the image's MD5 are cleared. Another
//                          key: refused.
//   0x11 DISABLE           leaves configuration mode (nothing else changes)
//   0x20 ERASE             erases the whole configuration memory (every byte
//                          0xFF), forgets the rows programmed, the image and the
//                          user code, sets the row address to 0, and is busy
//                          for a while (Timing)
//   0x30 ADDRESS hi lo     sets the row address (0..4095)
//   0x31 PROGRAM row...    every 16 bytes written program one row at the row
//                          address, which then advances by one; a row that is
//                          not blank (all 0xFF) is refused and keeps its bytes
//   0x32 USERCODE b3..b0   sets the 32-bit user code
//   0x40 READ              reads: the configuration memory from the row address
//                          on (0xFF past the last row); the address advances by
//                          one per 16 bytes read
//   0x41 READ USERCODE     reads: the user code (4 bytes)
//   0x50 DONE              ends configuration: the FPGA runs the image, rows 0
//                          up to the highest programmed row, and keeps its MD5;
//                          configuration mode ends
// Any other command is refused.
//
// Conditions. ERASE, PROGRAM, USERCODE, READ and DONE need configuration
// mode; every command but IDENTIFY, STATUS, DISABLE and READ USERCODE is
// refused while an erase is busy; PROGRAM and DONE need an erase since the last
// DONE; DONE needs at least one row programmed and no refusal since ENABLE. A
// refused command sets ERROR and does nothing else (a refused READ answers
// 0xFF).
//
// Status byte:
//   bit 0  BUSY     an erase is in progress
//   bit 1  ENABLED  configuration mode
//   bit 2  ERASED   erased, not busy any more, and no DONE since
//   bit 3  DONE     configured: the FPGA runs its image
//   bit 4  ERROR    a command was refused since the last ENABLE
//
// Timing. The model has no clock: its time advances by one tick per status
// byte read. An erase lasts 3 ticks: the first 3 status bytes read after it
// show BUSY, the fourth shows ERASED.
//
// The state (reference_fpga.h) is read from hw/fpga/state.json at every
// transfer and written back when a transfer changed it; what a selection has
// brought so far lives in this process. A state.json that cannot be used makes
// an FPGA that does not answer: reads give 0xFF, writes change nothing, the
// file is left alone.
#include "sim/devices/reference_fpga.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/host/json_file.h"
#include "platform/host/safe_files.h"

namespace sim {
namespace devices {
namespace {

using platform::host::UniqueFd;

const char kStateFile[] = "hw/fpga/state.json";
const char kArrayFile[] = "hw/fpga/array.bin";
const uint32_t kArrayBytes = kReferenceFpgaRows * kReferenceFpgaRowBytes;

enum Command {
    kIdentify = 0x01,
    kStatus = 0x02,
    kEnable = 0x10,
    kDisable = 0x11,
    kErase = 0x20,
    kAddress = 0x30,
    kProgram = 0x31,
    kUsercode = 0x32,
    kRead = 0x40,
    kReadUsercode = 0x41,
    kDone = 0x50,
};
const uint8_t kEnableKey[2] = {0x5A, 0xA5};

// What the current selection of the pin has brought so far.
struct Selection {
    Selection()
        : number(0),
          hasCommand(false),
          command(0),
          operandCount(0),
          answered(0),
          readStart(0),
          refused(false) {}

    uint64_t number;
    bool hasCommand;
    uint8_t command;
    uint8_t operands[kReferenceFpgaRowBytes];
    uint32_t operandCount;
    uint32_t answered;   // bytes read since the command
    uint32_t readStart;  // READ: the row address it started at
    bool refused;        // the command was refused when it came
};

// Transfers of one device come one at a time (the mutex), by device folder.
std::mutex g_mutex;
std::map<std::string, Selection> g_selections;

Selection& CurrentSelection(const std::string& device, uint64_t number) {
    std::map<std::string, Selection>::iterator it = g_selections.find(device);
    if (it == g_selections.end() || it->second.number != number) {
        Selection fresh;
        fresh.number = number;
        return g_selections[device] = fresh;
    }
    return it->second;
}

// ---- the state file --------------------------------------------------------

bool ReadFlag(const rapidjson::Value& object, const char* name, bool& value) {
    rapidjson::Value::ConstMemberIterator it = object.FindMember(name);
    if (it == object.MemberEnd() || !it->value.IsBool())
        return false;
    value = it->value.GetBool();
    return true;
}

bool ReadNumber(const rapidjson::Value& object, const char* name, uint32_t& value) {
    rapidjson::Value::ConstMemberIterator it = object.FindMember(name);
    if (it == object.MemberEnd() || !it->value.IsUint())
        return false;
    value = it->value.GetUint();
    return true;
}

bool SaveState(const std::string& device, const ReferenceFpgaState& state) {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    writer.StartObject();
    writer.Key("enabled");
    writer.Bool(state.enabled);
    writer.Key("erased");
    writer.Bool(state.erased);
    writer.Key("done");
    writer.Bool(state.done);
    writer.Key("error");
    writer.Bool(state.error);
    writer.Key("busyTicks");
    writer.Uint(state.busyTicks);
    writer.Key("address");
    writer.Uint(state.address);
    writer.Key("rowsProgrammed");
    writer.Uint(state.rowsProgrammed);
    writer.Key("imageRows");
    writer.Uint(state.imageRows);
    writer.Key("usercode");
    writer.Uint(state.usercode);
    writer.Key("md5");
    writer.String(state.md5.c_str(), static_cast<rapidjson::SizeType>(state.md5.size()));
    writer.EndObject();
    std::string text(buffer.GetString(), buffer.GetSize());
    text.push_back('\n');
    return platform::host::ReplaceFileBelow(device, kStateFile, text, 0644, true);
}

// ---- the configuration memory ----------------------------------------------

// size bytes from offset; what the file does not hold is erased.
void ReadArray(const std::string& device, uint32_t offset, uint8_t* buffer, uint32_t size) {
    memset(buffer, 0xFF, size);
    UniqueFd fd(platform::host::OpenFileBelow(device, kArrayFile, O_RDONLY));
    if (!fd.Valid())
        return;
    uint32_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd.Get(), buffer + done, size - done, offset + done);
        if (n <= 0)
            break;
        done += static_cast<uint32_t>(n);
    }
}

bool EraseArray(const std::string& device) {
    return platform::host::ReplaceFileBelow(device, kArrayFile, std::string(kArrayBytes, '\xFF'),
                                            0644, true);
}

bool WriteRow(const std::string& device, uint32_t row, const uint8_t* data) {
    UniqueFd fd(platform::host::OpenFileBelow(device, kArrayFile, O_RDWR | O_CREAT, 0644, true));
    struct stat st;
    if (!fd.Valid() || fstat(fd.Get(), &st) != 0)
        return false;
    // A short file is erased memory beyond its end: make that explicit first.
    if (st.st_size < static_cast<off_t>(kArrayBytes)) {
        const std::string rest(kArrayBytes - static_cast<uint32_t>(st.st_size), '\xFF');
        if (pwrite(fd.Get(), rest.data(), rest.size(), st.st_size) !=
            static_cast<ssize_t>(rest.size()))
            return false;
    }
    return pwrite(fd.Get(), data, kReferenceFpgaRowBytes, row * kReferenceFpgaRowBytes) ==
           static_cast<ssize_t>(kReferenceFpgaRowBytes);
}

std::string ImageMd5(const std::string& device, uint32_t rows) {
    std::vector<uint8_t> image(rows * kReferenceFpgaRowBytes);
    if (!image.empty())
        ReadArray(device, 0, &image[0], static_cast<uint32_t>(image.size()));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(image.empty() ? 0 : &image[0], image.size(), digest, &size, EVP_md5(), 0) != 1)
        return std::string();
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text.push_back(kDigits[digest[i] >> 4]);
        text.push_back(kDigits[digest[i] & 15]);
    }
    return text;
}

// ---- the commands ----------------------------------------------------------

class Port {
  public:
    Port(const std::string& device, ReferenceFpgaState& state, Selection& selection)
        : device_(device), s_(state), sel_(selection), changed_(false) {}

    bool Changed() const { return changed_; }

    void Write(uint8_t byte) {
        if (!sel_.hasCommand) {
            sel_.hasCommand = true;
            sel_.command = byte;
            Start();
            return;
        }
        switch (sel_.command) {
            case kEnable:
                if (Collect(byte, 2)) {
                    if (!Busy() && sel_.operands[0] == kEnableKey[0] &&
                        sel_.operands[1] == kEnableKey[1]) {
                        s_.enabled = true;
                        s_.done = false;
                        s_.error = false;
                        s_.md5.clear();
                        changed_ = true;
                    } else {
                        Refuse();
                    }
                }
                return;
            case kAddress:
                if (Collect(byte, 2)) {
                    const uint32_t row = (uint32_t(sel_.operands[0]) << 8) | sel_.operands[1];
                    if (Busy() || row >= kReferenceFpgaRows)
                        Refuse();
                    else
                        Set(s_.address, row);
                }
                return;
            case kUsercode:
                if (Collect(byte, 4)) {
                    if (!s_.enabled || Busy())
                        Refuse();
                    else
                        Set(s_.usercode, (uint32_t(sel_.operands[0]) << 24) |
                                             (uint32_t(sel_.operands[1]) << 16) |
                                             (uint32_t(sel_.operands[2]) << 8) | sel_.operands[3]);
                }
                return;
            case kProgram:
                if (Collect(byte, kReferenceFpgaRowBytes)) {
                    ProgramRow();
                    sel_.operandCount = 0;
                }
                return;
            default:
                return;  // operands of a command that takes none
        }
    }

    // The answers to count reads, into buffer.
    void Read(uint8_t* buffer, uint32_t count) {
        memset(buffer, 0xFF, count);
        if (!sel_.hasCommand || sel_.refused)
            return;
        switch (sel_.command) {
            case kIdentify:
                Answer(buffer, count, kReferenceFpgaId);
                break;
            case kReadUsercode:
                Answer(buffer, count, s_.usercode);
                break;
            case kStatus:
                for (uint32_t i = 0; i < count; ++i) {
                    buffer[i] = ReferenceFpgaStatus(s_);
                    if (s_.busyTicks > 0) {
                        --s_.busyTicks;
                        changed_ = true;
                    }
                }
                break;
            case kRead: {
                const uint64_t from =
                    uint64_t(sel_.readStart) * kReferenceFpgaRowBytes + sel_.answered;
                if (from < kArrayBytes) {
                    const uint64_t left = kArrayBytes - from;
                    ReadArray(device_, static_cast<uint32_t>(from), buffer,
                              static_cast<uint32_t>(left < count ? left : count));
                }
                uint64_t row =
                    sel_.readStart + (sel_.answered + uint64_t(count)) / kReferenceFpgaRowBytes;
                if (row > kReferenceFpgaRows)
                    row = kReferenceFpgaRows;
                Set(s_.address, static_cast<uint32_t>(row));
                break;
            }
            default:
                break;
        }
        sel_.answered += count;
    }

  private:
    bool Busy() const { return s_.busyTicks > 0; }

    void Set(uint32_t& field, uint32_t value) {
        if (field != value) {
            field = value;
            changed_ = true;
        }
    }

    void Refuse() {
        if (!s_.error) {
            s_.error = true;
            changed_ = true;
        }
    }

    // Adds an operand byte; true when it is the last of count.
    bool Collect(uint8_t byte, uint32_t count) {
        if (sel_.operandCount >= count)
            return false;
        sel_.operands[sel_.operandCount++] = byte;
        return sel_.operandCount == count;
    }

    // Answers the 4 bytes of value, most significant first, from where the
    // selection's reads are.
    void Answer(uint8_t* buffer, uint32_t count, uint32_t value) const {
        for (uint32_t i = 0; i < count && sel_.answered + i < 4; ++i)
            buffer[i] = static_cast<uint8_t>(value >> (8 * (3 - (sel_.answered + i))));
    }

    // A command at the start of a selection.
    void Start() {
        switch (sel_.command) {
            case kIdentify:
            case kStatus:
            case kReadUsercode:
            case kEnable:
            case kAddress:
            case kUsercode:
            case kProgram:
                return;  // they act on reads or operands
            case kDisable:
                if (s_.enabled) {
                    s_.enabled = false;
                    changed_ = true;
                }
                return;
            case kErase:
                if (!s_.enabled || Busy() || !EraseArray(device_)) {
                    Refuse();
                    return;
                }
                s_.erased = true;
                s_.busyTicks = kReferenceFpgaEraseTicks;
                s_.address = 0;
                s_.rowsProgrammed = 0;
                s_.imageRows = 0;
                s_.usercode = 0xFFFFFFFFu;
                changed_ = true;
                return;
            case kRead:
                if (!s_.enabled || Busy()) {
                    sel_.refused = true;
                    Refuse();
                    return;
                }
                sel_.readStart = s_.address;
                return;
            case kDone:
                if (!s_.enabled || Busy() || !s_.erased || s_.rowsProgrammed == 0 || s_.error) {
                    Refuse();
                    return;
                }
                s_.done = true;
                s_.enabled = false;
                s_.erased = false;
                s_.md5 = ImageMd5(device_, s_.imageRows);
                changed_ = true;
                return;
            default:
                sel_.refused = true;
                Refuse();
                return;
        }
    }

    void ProgramRow() {
        const uint32_t row = s_.address;
        if (row >= kReferenceFpgaRows) {
            Refuse();
            return;
        }
        Set(s_.address, row + 1);
        uint8_t current[kReferenceFpgaRowBytes];
        ReadArray(device_, row * kReferenceFpgaRowBytes, current, kReferenceFpgaRowBytes);
        bool blank = true;
        for (uint32_t i = 0; i < kReferenceFpgaRowBytes; ++i)
            blank = blank && current[i] == 0xFF;
        if (!s_.enabled || Busy() || !s_.erased || !blank ||
            !WriteRow(device_, row, sel_.operands)) {
            Refuse();
            return;
        }
        ++s_.rowsProgrammed;
        if (row + 1 > s_.imageRows)
            s_.imageRows = row + 1;
        changed_ = true;
    }

    const std::string& device_;
    ReferenceFpgaState& s_;
    Selection& sel_;
    bool changed_;
};

}  // namespace

ReferenceFpgaState::ReferenceFpgaState()
    : enabled(false),
      erased(false),
      done(false),
      error(false),
      busyTicks(0),
      address(0),
      rowsProgrammed(0),
      imageRows(0),
      usercode(0xFFFFFFFFu) {}

uint8_t ReferenceFpgaStatus(const ReferenceFpgaState& state) {
    uint8_t status = 0;
    if (state.busyTicks > 0)
        status |= kFpgaStatusBusy;
    if (state.enabled)
        status |= kFpgaStatusEnabled;
    if (state.erased && state.busyTicks == 0)
        status |= kFpgaStatusErased;
    if (state.done)
        status |= kFpgaStatusDone;
    if (state.error)
        status |= kFpgaStatusError;
    return status;
}

ReferenceFpgaStateSource LoadReferenceFpgaState(const std::string& device,
                                                ReferenceFpgaState& state) {
    state = ReferenceFpgaState();
    rapidjson::Document document;
    switch (platform::host::LoadJsonObject(device, kStateFile, document)) {
        case platform::host::kJsonFileMissing:
            return kFpgaStateFresh;
        case platform::host::kJsonFileBroken:
            return kFpgaStateBroken;
        case platform::host::kJsonFileLoaded:
            break;
    }
    ReferenceFpgaState loaded;
    rapidjson::Value::ConstMemberIterator md5 = document.FindMember("md5");
    if (!ReadFlag(document, "enabled", loaded.enabled) ||
        !ReadFlag(document, "erased", loaded.erased) || !ReadFlag(document, "done", loaded.done) ||
        !ReadFlag(document, "error", loaded.error) ||
        !ReadNumber(document, "busyTicks", loaded.busyTicks) ||
        !ReadNumber(document, "address", loaded.address) ||
        !ReadNumber(document, "rowsProgrammed", loaded.rowsProgrammed) ||
        !ReadNumber(document, "imageRows", loaded.imageRows) ||
        !ReadNumber(document, "usercode", loaded.usercode) || md5 == document.MemberEnd() ||
        !md5->value.IsString() || loaded.address > kReferenceFpgaRows ||
        loaded.imageRows > kReferenceFpgaRows)
        return kFpgaStateBroken;
    loaded.md5.assign(md5->value.GetString(), md5->value.GetStringLength());
    state = loaded;
    return kFpgaStateLoaded;
}

bool SetReferenceFpgaImage(const std::string& device, const std::vector<uint8_t>& image,
                           uint32_t usercode) {
    if (image.size() > kArrayBytes)
        return false;
    std::string array(image.begin(), image.end());
    array.resize(kArrayBytes, '\xFF');
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!platform::host::ReplaceFileBelow(device, kArrayFile, array, 0644, true))
        return false;
    ReferenceFpgaState state;
    state.done = true;
    state.imageRows =
        static_cast<uint32_t>((image.size() + kReferenceFpgaRowBytes - 1) / kReferenceFpgaRowBytes);
    state.rowsProgrammed = state.imageRows;
    state.address = state.imageRows;
    state.usercode = usercode;
    state.md5 = ImageMd5(device, state.imageRows);
    return SaveState(device, state);
}

void ReferenceFpgaWrite(const std::string& device, uint64_t selection, const uint8_t* data,
                        uint32_t count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    ReferenceFpgaState state;
    if (LoadReferenceFpgaState(device, state) == kFpgaStateBroken)
        return;
    Port port(device, state, CurrentSelection(device, selection));
    for (uint32_t i = 0; i < count; ++i)
        port.Write(data[i]);
    if (port.Changed())
        SaveState(device, state);
}

void ReferenceFpgaRead(const std::string& device, uint64_t selection, uint8_t* buffer,
                       uint32_t count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    ReferenceFpgaState state;
    if (LoadReferenceFpgaState(device, state) == kFpgaStateBroken) {
        memset(buffer, 0xFF, count);
        return;
    }
    Port port(device, state, CurrentSelection(device, selection));
    port.Read(buffer, count);
    if (port.Changed())
        SaveState(device, state);
}

}  // namespace devices
}  // namespace sim
