// The reference FPGA's configuration port, driven selection by selection over
// the simulated SPI master and GPIO pin.
#include <gtest/gtest.h>

#include <fstream>

#include "link_printer.h"
#include "sim/devices/reference_fpga.h"
#include "sim/file_digest.h"

namespace linktest {
namespace {

using sim::devices::kFpgaStatusBusy;
using sim::devices::kFpgaStatusDone;
using sim::devices::kFpgaStatusEnabled;
using sim::devices::kFpgaStatusErased;
using sim::devices::kFpgaStatusError;

const Bytes kIdentify = {0x01};
const Bytes kEnable = {0x10, 0x5A, 0xA5};
const Bytes kErase = {0x20};
const Bytes kDone = {0x50};

Bytes Row(uint8_t seed) {
    Bytes row(16);
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = uint8_t(seed * 16 + i);
    return row;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Address(uint16_t row) {
    return {0x30, uint8_t(row >> 8), uint8_t(row & 0xFF)};
}

uint8_t Status(const Bus& bus) {
    return bus.Select({0x02}, 1)[0];
}

// Configuration mode and an erase that has ended.
void EnableAndErase(const Bus& bus) {
    bus.Select(kEnable);
    bus.Select(kErase);
    for (int i = 0; i < 10 && (Status(bus) & kFpgaStatusBusy); ++i) {
    }
    ASSERT_EQ(Status(bus), kFpgaStatusEnabled | kFpgaStatusErased);
}

Bytes ReadRows(const Bus& bus, uint16_t first, uint32_t rows) {
    bus.Select(Address(first));
    return bus.Select({0x40}, rows * 16);
}

sim::devices::ReferenceFpgaState State(const fwtest::TempDevice& device) {
    sim::devices::ReferenceFpgaState state;
    EXPECT_EQ(sim::devices::LoadReferenceFpgaState(device.Root().string(), state),
              sim::devices::kFpgaStateLoaded);
    return state;
}

TEST(ReferenceFpga, AFreshOneIdentifiesAndIsBlank) {
    fwtest::TempDevice device;
    Bus bus;
    EXPECT_EQ(bus.Select(kIdentify, 6), Bytes({0x0F, 0x9A, 0x23, 0x01, 0xFF, 0xFF}));
    EXPECT_EQ(Status(bus), 0);
    EXPECT_EQ(bus.Select({0x41}, 4), Bytes(4, 0xFF));  // no user code
    // Identification and status change nothing that lasts.
    EXPECT_FALSE(std::filesystem::exists(device.Hw() / "fpga"));
    // Reads in a selection before any command answer 0xFF.
    EXPECT_EQ(bus.Select({}, 2), Bytes(2, 0xFF));
}

// An erase takes three status reads: BUSY until then, ERASED afterwards; each
// status byte read is a tick, also within one read.
TEST(ReferenceFpga, EraseIsBusyForThreeStatusReads) {
    fwtest::TempDevice device;
    Bus bus;
    bus.Select(kEnable);
    EXPECT_EQ(Status(bus), kFpgaStatusEnabled);
    bus.Select(kErase);
    const uint8_t busy = kFpgaStatusBusy | kFpgaStatusEnabled;
    const uint8_t erased = kFpgaStatusEnabled | kFpgaStatusErased;
    EXPECT_EQ(bus.Select({0x02}, 2), Bytes({busy, busy}));
    EXPECT_EQ(bus.Select({0x02}, 3), Bytes({busy, erased, erased}));
    std::ifstream array(device.Hw() / "fpga" / "array.bin", std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(array), {});
    EXPECT_EQ(bytes, std::string(4096 * 16, '\xFF'));
}

// Program rows, read them back, finish: the image is rows 0 up to the highest
// programmed one, and its MD5 is kept.
TEST(ReferenceFpga, ProgramsReadsBackAndFinishes) {
    fwtest::TempDevice device;
    Bus bus;
    EnableAndErase(bus);
    bus.Select(Address(0));
    // One selection, its bytes in transfers that do not end on a row.
    bus.SetPin(false);
    bus.Transfer({0x31}, 0);
    const Bytes rows = Join({Row(1), Row(2), Row(3)});
    bus.Transfer(Bytes(rows.begin(), rows.begin() + 20), 0);
    bus.Transfer(Bytes(rows.begin() + 20, rows.end()), 0);
    bus.SetPin(true);
    bus.Select(Address(5));
    bus.Select(Join({{0x31}, Row(6)}));
    bus.Select(Join({{0x32}, {0x12, 0x34, 0x56, 0x78}}));

    const Bytes image = Join({rows, Bytes(32, 0xFF), Row(6)});
    EXPECT_EQ(ReadRows(bus, 0, 6), image);
    EXPECT_EQ(ReadRows(bus, 4094, 3), Bytes(48, 0xFF));  // past the last row: 0xFF
    EXPECT_EQ(bus.Select({0x41}, 4), Bytes({0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(Status(bus), kFpgaStatusEnabled | kFpgaStatusErased);

    bus.Select(kDone);
    EXPECT_EQ(Status(bus), kFpgaStatusDone);
    const sim::devices::ReferenceFpgaState state = State(device);
    EXPECT_TRUE(state.done);
    EXPECT_EQ(state.rowsProgrammed, 4u);
    EXPECT_EQ(state.imageRows, 6u);
    EXPECT_EQ(state.usercode, 0x12345678u);
    EXPECT_EQ(state.md5, sim::Md5Hex(image));
    // Read-back needs configuration mode; ENABLE then stops the image.
    EXPECT_EQ(ReadRows(bus, 0, 1), Bytes(16, 0xFF));
    EXPECT_EQ(Status(bus), kFpgaStatusDone | kFpgaStatusError);
    bus.Select(kEnable);
    EXPECT_EQ(Status(bus), kFpgaStatusEnabled);
    EXPECT_EQ(State(device).md5, "");
    EXPECT_EQ(ReadRows(bus, 0, 1), Row(1));
}

// A refused command sets ERROR and changes nothing else.
TEST(ReferenceFpga, RefusesWhatItsStateDoesNotAllow) {
    const uint8_t kEnabledError = kFpgaStatusEnabled | kFpgaStatusError;
    const struct {
        const char* name;
        std::vector<Bytes> before;  // selections that set the scene
        int statusReads;            // then, before the refused command
        Bytes refused;
        uint8_t status;  // afterwards
    } cases[] = {
        {"erase without configuration mode", {}, 0, kErase, kFpgaStatusError},
        {"a wrong key", {}, 0, {0x10, 0x5A, 0xA6}, kFpgaStatusError},
        {"program before an erase", {kEnable}, 0, Join({{0x31}, Row(1)}), kEnabledError},
        // The status read afterwards is the erase's first tick.
        {"program while erasing",
         {kEnable, kErase},
         0,
         Join({{0x31}, Row(1)}),
         kEnabledError | kFpgaStatusBusy},
        {"enable while erasing", {kEnable, kErase}, 1, kEnable, kEnabledError | kFpgaStatusBusy},
        {"done without a row", {kEnable, kErase}, 3, kDone, kEnabledError | kFpgaStatusErased},
        {"an unknown command", {}, 0, {0x7F}, kFpgaStatusError},
        {"a row address past the end", {kEnable}, 0, Address(4096), kEnabledError},
        {"a user code without configuration mode", {}, 0, {0x32, 1, 2, 3, 4}, kFpgaStatusError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fwtest::TempDevice device;
        Bus bus;
        for (const Bytes& selection : c.before)
            bus.Select(selection);
        for (int i = 0; i < c.statusReads; ++i)
            Status(bus);
        bus.Select(c.refused);
        EXPECT_EQ(Status(bus), c.status);
        EXPECT_EQ(bus.Select({0x41}, 4), Bytes(4, 0xFF));
        if (std::filesystem::exists(device.Hw() / "fpga" / "state.json")) {
            EXPECT_FALSE(State(device).done);
        }
    }
}

// A row that is not blank keeps its bytes; the refusal also stops DONE until
// ENABLE clears it.
TEST(ReferenceFpga, AProgrammedRowIsNotProgrammedAgain) {
    fwtest::TempDevice device;
    Bus bus;
    EnableAndErase(bus);
    bus.Select(Address(0));
    bus.Select(Join({{0x31}, Row(1)}));
    bus.Select(Address(0));
    bus.Select(Join({{0x31}, Row(9), Row(2)}));  // row 0 refused, row 1 programmed
    EXPECT_EQ(ReadRows(bus, 0, 2), Join({Row(1), Row(2)}));
    EXPECT_EQ(Status(bus), kFpgaStatusEnabled | kFpgaStatusErased | kFpgaStatusError);
    bus.Select(kDone);
    EXPECT_FALSE(State(device).done);
    bus.Select(kEnable);
    bus.Select(kDone);
    EXPECT_TRUE(State(device).done);
    EXPECT_EQ(State(device).md5, sim::Md5Hex(Join({Row(1), Row(2)})));
}

// A selection that ends in the middle of a row programs nothing of it.
TEST(ReferenceFpga, ANewSelectionStartsANewCommand) {
    fwtest::TempDevice device;
    Bus bus;
    EnableAndErase(bus);
    const Bytes row = Row(1);
    bus.Select(Address(0));
    bus.Select(Join({{0x31}, Bytes(row.begin(), row.begin() + 8)}));
    bus.Select(Bytes(row.begin() + 8, row.end()));  // a command 0x18 and its operands
    EXPECT_EQ(ReadRows(bus, 0, 1), Bytes(16, 0xFF));
    EXPECT_EQ(State(device).rowsProgrammed, 0u);
}

// The state lasts across processes: what one process programmed, the next one
// reads back and finishes, and a third finds running.
TEST(ReferenceFpga, ItsStateLastsAcrossProcesses) {
    fwtest::TempDevice device;
    InFreshProcess([] {
        Bus bus;
        EnableAndErase(bus);
        bus.Select(Address(0));
        bus.Select(Join({{0x31}, Row(1), Row(2)}));
    });
    InFreshProcess([] {
        Bus bus;
        EXPECT_EQ(Status(bus), kFpgaStatusEnabled | kFpgaStatusErased);
        EXPECT_EQ(ReadRows(bus, 0, 2), Join({Row(1), Row(2)}));
        bus.Select(Address(2));
        bus.Select(Join({{0x31}, Row(3)}));
        bus.Select(kDone);
    });
    InFreshProcess([] {
        Bus bus;
        EXPECT_EQ(Status(bus), kFpgaStatusDone);
    });
    EXPECT_EQ(State(device).md5, sim::Md5Hex(Join({Row(1), Row(2), Row(3)})));
}

// A state file that is not the model's makes an FPGA that does not answer, and
// stays as it was.
TEST(ReferenceFpga, AnUnusableStateFileIsLeftAlone) {
    const char* const kStates[] = {
        "{",
        "[]",
        R"({"enabled": true})",
        R"({"enabled": false, "erased": false, "done": false, "error": false, "busyTicks": 0,
            "address": 5000, "rowsProgrammed": 0, "imageRows": 0, "usercode": 0, "md5": ""})",
    };
    for (const char* text : kStates) {
        SCOPED_TRACE(text);
        fwtest::TempDevice device;
        std::filesystem::create_directories(device.Hw() / "fpga");
        std::ofstream(device.Hw() / "fpga" / "state.json") << text;
        Bus bus;
        EXPECT_EQ(bus.Select(kIdentify, 4), Bytes(4, 0xFF));
        bus.Select(kEnable);
        bus.Select(kErase);
        std::ifstream in(device.Hw() / "fpga" / "state.json");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
        EXPECT_FALSE(std::filesystem::exists(device.Hw() / "fpga" / "array.bin"));
    }
}

}  // namespace
}  // namespace linktest
