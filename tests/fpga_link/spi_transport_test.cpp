// The FPGA's SPI/GPIO transport, through the simulated drivers: the exact driver
// calls and channel configurations in the device-call trace.
#include <gtest/gtest.h>

#include "fpga/fpga_engine.h"
#include "fpga/fpga_format.h"
#include "fpga/fpga_spi_transport.h"
#include "link_printer.h"
#include "platform/spi_gpio_drivers.h"

namespace linktest {
namespace {

typedef std::vector<std::string> Lines;

const char kTempConfig[] = "\\UpgradeTemp\\tempPeripheralConfigFile.json";

// An algorithm that only ends.
const Bytes kEmptyAlgorithm = {0xA2, 0,    0, 0,    1, 0xA3, 4, 0,    0,    0xA4, 16,   0xA5,
                               1,    0xA6, 8, 0xA7, 0, 0xA9, 0, 0xA8, 0xFF, 0xFF, 0x60, 0x61};

TEST(SpiTransport, OpensTransfersAndClosesInTheDriversOrder) {
    InFreshProcess([] {
        LinkPrinter printer;
        FpgaSpiTransport transport;
        ASSERT_TRUE(transport.InitHardware());
        // The EEPROM's region 0 is read first, into the temporary file.
        const std::vector<fwtest::TraceCall> all = fwtest::ReadDeviceTrace(printer.Root());
        ASSERT_FALSE(all.empty());
        EXPECT_EQ(all.front().Brief(), "EPM* find");
        EXPECT_TRUE(printer.Temp().Exists(kTempConfig));
        EXPECT_EQ(
            printer.LinkLines(),
            Lines(
                {R"({"dev":"SPI1:","op":"open","ok":true})",
                 R"({"dev":"GIO1:","op":"open","ok":true})",
                 R"({"dev":"GIO1:","op":"ioctl","code":"0x220c14","in":[49],"out":[1],"ok":true})",
                 R"({"dev":"GIO1:","op":"ioctl","code":"0x220c10","in":[49,0],"ok":true})",
                 R"({"dev":"SPI1:","op":"ioctl","code":"0x220824","in":[255],"ok":true})"}));
        EXPECT_EQ(all.size() - printer.LinkCalls().size(),
                  size_t(std::find_if(all.begin(), all.end(),
                                      [](const fwtest::TraceCall& c) { return c.dev == "SPI1:"; }) -
                         all.begin()))
            << "every EEPROM call comes before the first SPI call";

        printer.ClearTrace();
        const uint8_t out[] = {0x81, 0x7E};
        uint8_t in[3] = {0, 0, 0};
        EXPECT_TRUE(transport.StartTransaction(7));
        EXPECT_TRUE(transport.TransmitBits(out, 16));
        EXPECT_TRUE(transport.ReceiveBits(in, 24));
        EXPECT_TRUE(transport.EndTransaction());
        EXPECT_TRUE(transport.WaitMilliseconds(1));
        EXPECT_TRUE(transport.CloseHardware());
        EXPECT_EQ(
            printer.LinkLines(),
            Lines({
                R"({"dev":"GIO1:","op":"ioctl","code":"0x220c04","in":[49],"ok":true})",
                R"({"dev":"SPI1:","op":"ioctl","code":"0x220814","in":[5000],"ok":true})",
                R"({"dev":"SPI1:","op":"ioctl","code":"0x220800","in":[0],"config":[0,0,2,1,8,2,0,5,0,1,0,0,1,0,0],"ok":true})",
                R"({"dev":"SPI1:","op":"ioctl","code":"0x22081c","in":[0],"ok":true})",
                R"({"dev":"SPI1:","op":"write","data":"817e","ok":true})",
                R"({"dev":"SPI1:","op":"ioctl","code":"0x220818","ok":true})",
                R"({"dev":"SPI1:","op":"ioctl","code":"0x220814","in":[5000],"ok":true})",
                R"({"dev":"SPI1:","op":"ioctl","code":"0x220800","in":[0],"config":[0,0,2,1,8,1,0,5,0,1,0,0,1,0,0],"ok":true})",
                R"({"dev":"SPI1:","op":"ioctl","code":"0x22081c","in":[0],"ok":true})",
                // The default printer's reference FPGA answers nothing to an
                // unknown command (0x81).
                R"({"dev":"SPI1:","op":"read","data":"ffffff","ok":true})",
                R"({"dev":"SPI1:","op":"ioctl","code":"0x220818","ok":true})",
                R"({"dev":"GIO1:","op":"ioctl","code":"0x220c00","in":[49],"ok":true})",
                R"({"dev":"GIO1:","op":"ioctl","code":"0x220c10","in":[49,1],"ok":true})",
                R"({"dev":"SPI1:","op":"close","ok":true})",
                R"({"dev":"GIO1:","op":"close","ok":true})",
            }));
    });
}

// The link as the record describes it: the SPI master, chip select, clock and
// word settings in both channel configurations, and the GPIO pin.
struct ConfigCase {
    const char* name;
    LinkRecord record;
    const char* spiDevice;
    uint32_t chipSelect;
    int32_t pin;
    std::vector<uint32_t> head;  // words 1 to 5 of both configurations
};

TEST(SpiTransport, ChannelConfigurationsFollowTheRecord) {
    auto record = [](auto change) {
        LinkRecord r;
        change(r);
        return r;
    };
    const ConfigCase cases[] = {
        {"default", LinkRecord(), "SPI1:", 0, 49, {0, 0, 2, 1, 8}},
        {"module 1",
         record([](LinkRecord& r) { r.spiModule = 1; }),
         "SPI2:",
         0,
         49,
         {0, 0, 2, 1, 8}},
        {"12 MHz",
         record([](LinkRecord& r) { r.clkFrequency = 12000000; }),
         "SPI1:",
         0,
         49,
         {0, 0, 4, 1, 8}},
        {"0 Hz",
         record([](LinkRecord& r) { r.clkFrequency = 0; }),
         "SPI1:",
         0,
         49,
         {0, 0, 1, 1, 8}},
        {"clock mode 3",
         record([](LinkRecord& r) { r.clockMode = 3; }),
         "SPI1:",
         0,
         49,
         {1, 1, 2, 1, 8}},
        {"clock mode 2",
         record([](LinkRecord& r) { r.clockMode = 2; }),
         "SPI1:",
         0,
         49,
         {0, 1, 2, 1, 8}},
        {"clock mode 1, 7 MHz",
         record([](LinkRecord& r) {
             r.clockMode = 1;
             r.clkFrequency = 7000000;
         }),
         "SPI1:",
         0,
         49,
         {1, 0, 6, 1, 8}},
        {"module 3, chip select 2, 16-bit words, pin 3_5",
         record([](LinkRecord& r) {
             r.spiModule = 3;
             r.chipSelect = 2;
             r.wordLength = 16;
             r.pin = "3_5";
         }),
         "SPI4:",
         2,
         101,
         {0, 0, 2, 1, 16}},
    };
    for (const ConfigCase& c : cases) {
        SCOPED_TRACE(c.name);
        InFreshProcess([&c] {
            LinkPrinter printer(c.record);
            FpgaSpiTransport transport;
            ASSERT_TRUE(transport.InitHardware());
            const uint8_t byte = 0x5A;
            uint8_t answer = 0;
            EXPECT_TRUE(transport.StartTransaction(0));
            EXPECT_TRUE(transport.TransmitBits(&byte, 8));
            EXPECT_TRUE(transport.ReceiveBits(&answer, 8));
            EXPECT_TRUE(transport.EndTransaction());
            EXPECT_TRUE(transport.CloseHardware());

            const std::vector<fwtest::TraceCall> calls = printer.LinkCalls();
            ASSERT_EQ(calls.size(), 20u);
            EXPECT_EQ(calls[0].dev, c.spiDevice);
            EXPECT_EQ(calls[0].op, "open");
            EXPECT_EQ(calls[2].in, std::vector<uint32_t>({uint32_t(c.pin)}));
            EXPECT_EQ(calls[5].Brief(), "GIO1: ioctl 0x220c04");
            EXPECT_EQ(calls[5].in, std::vector<uint32_t>({uint32_t(c.pin)}));
            for (size_t at : {7u, 12u}) {
                const uint32_t mode = at == 7 ? 2 : 1;
                std::vector<uint32_t> config = c.head;
                config.insert(config.end(), {mode, 0, 5, 0, 1, 0, 0, 1, 0, 0});
                EXPECT_EQ(calls[at].dev, c.spiDevice);
                EXPECT_EQ(calls[at].code, "0x220800");
                EXPECT_EQ(calls[at].in, std::vector<uint32_t>({c.chipSelect}));
                EXPECT_EQ(calls[at].config, config);
                EXPECT_EQ(calls[at + 1].in, std::vector<uint32_t>({c.chipSelect}));
            }
            EXPECT_EQ(calls[16].Brief(), "GIO1: ioctl 0x220c00");
            EXPECT_EQ(calls[17].in, std::vector<uint32_t>({uint32_t(c.pin), 1}));
        });
    }
}

// A GPIO driver that does not open fails the initialisation even though the SPI
// master opened; the pin's codes are skipped, the SPI master still gets its
// opening code and stays open, and the engine never closes the hardware.
TEST(SpiTransport, AGpioDriverThatDoesNotOpenFailsTheInitialisation) {
    InFreshProcess([] {
        LinkPrinter printer;
        // Another client holds the GPIO driver without sharing it.
        DriverHandle exclusive(u"GIO1:", 0);
        ASSERT_TRUE(exclusive.Valid());
        printer.ClearTrace();
        FpgaSpiTransport transport;
        EXPECT_FALSE(transport.InitHardware());
        EXPECT_EQ(
            printer.LinkLines(),
            Lines({R"({"dev":"SPI1:","op":"open","ok":true})",
                   R"({"dev":"GIO1:","op":"open","ok":false})",
                   R"({"dev":"SPI1:","op":"ioctl","code":"0x220824","in":[255],"ok":true})"}));

        printer.ClearTrace();
        printer.Temp().WriteBytes("\\UpgradeTemp\\algo.sea", kEmptyAlgorithm);
        SetFpgaFiles("\\UpgradeTemp\\algo.sea", "");
        EXPECT_EQ(RunAlgorithm(kFpgaAnyAlgorithmId), kFpgaHardwareUnavailable);
        for (const fwtest::TraceCall& call : printer.LinkCalls())
            EXPECT_NE(call.op, "close") << call.line;
    });
}

// A transfer whose first code is refused (another client holds the bus) sends
// nothing else; once the bus is free the same transfer goes through.
TEST(SpiTransport, ATransferWhoseFirstCodeFailsSendsNothingElse) {
    InFreshProcess([] {
        LinkPrinter printer;
        FpgaSpiTransport transport;
        ASSERT_TRUE(transport.InitHardware());
        {
            DriverHandle other(u"SPI1:", 0);
            ASSERT_TRUE(other.Send(platform::kSpiControlTakeBus, {100}));
            printer.ClearTrace();
            const uint8_t byte = 0x42;
            uint8_t answer = 0;
            EXPECT_FALSE(transport.TransmitBits(&byte, 8));
            EXPECT_FALSE(transport.ReceiveBits(&answer, 8));
            const Lines refused(
                2, R"({"dev":"SPI1:","op":"ioctl","code":"0x220814","in":[5000],"ok":false})");
            EXPECT_EQ(printer.LinkLines(), refused);
        }
        printer.ClearTrace();
        const uint8_t byte = 0x42;
        EXPECT_TRUE(transport.TransmitBits(&byte, 8));
        EXPECT_EQ(printer.LinkCalls().size(), 5u);
        EXPECT_TRUE(transport.CloseHardware());
    });
}

// The chip-select pin is put in mode 0 for the run and gets back the mode it had.
TEST(SpiTransport, CloseHardwareRestoresThePinsMode) {
    InFreshProcess([] {
        LinkPrinter printer;
        {
            DriverHandle gpio(u"GIO1:", 3);
            ASSERT_TRUE(gpio.Send(platform::kGpioControlSetMode, {49, 6}));
        }
        FpgaSpiTransport transport;
        ASSERT_TRUE(transport.InitHardware());
        EXPECT_EQ(PinMode(49), 0u);
        printer.ClearTrace();
        EXPECT_TRUE(transport.CloseHardware());
        EXPECT_EQ(printer.LinkLines(),
                  Lines({R"({"dev":"GIO1:","op":"ioctl","code":"0x220c10","in":[49,6],"ok":true})",
                         R"({"dev":"SPI1:","op":"close","ok":true})",
                         R"({"dev":"GIO1:","op":"close","ok":true})"}));
        EXPECT_EQ(PinMode(49), 6u);
    });
}

// Without a usable link record the transport opens nothing, and the engine
// reports the hardware as unavailable (and deletes the temporary copy).
TEST(SpiTransport, WithoutAUsableLinkRecordNothingIsOpened) {
    auto record = [](auto change) {
        LinkRecord r;
        change(r);
        return r;
    };
    const struct {
        const char* name;
        LinkRecord record;
    } cases[] = {
        // The name given to a record of another class: read as an FPGA link it
        // would be nonsense.
        {"another class", record([](LinkRecord& r) {
             r.replacement =
                 R"({"name": "FPGA-HARDWARE-CONFIG", "class": "DacChannel", "channel": 3})";
         })},
        {"no SPI device", record([](LinkRecord& r) {
             r.replacement = R"({"name": "FPGA-HARDWARE-CONFIG", "class": "FpgaHardwareConfig",
                 "gpioChipSelect": {"name": "CS", "class": "Am335xGpio", "direction": "Output",
                 "level": "High", "invertLogic": false, "pinNumber": "1_17",
                 "pinPullType": "PullUp"}})";
         })},
        {"no such record", record([](LinkRecord& r) {
             r.replacement = R"({"name": "FPGA-DAC", "class": "DacChannel", "channel": 3})";
         })},
        {"no region 0", record([](LinkRecord& r) { r.region0 = false; })},
        {"no EEPROM", record([](LinkRecord& r) { r.eeprom = false; })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InFreshProcess([&c] {
            LinkPrinter printer(c.record);
            FpgaSpiTransport transport;
            EXPECT_FALSE(transport.InitHardware());
            EXPECT_TRUE(printer.LinkCalls().empty());

            printer.Temp().WriteBytes("\\UpgradeTemp\\algo.sea", kEmptyAlgorithm);
            EXPECT_FALSE(ProgramFpga("\\UpgradeTemp\\algo.sea", ""));
            EXPECT_TRUE(printer.LinkCalls().empty());
            EXPECT_FALSE(printer.Temp().Exists(kTempConfig));
            EXPECT_FALSE(printer.Temp().Exists("\\UpgradeTemp\\algo.sea"));
        });
    }
}

// The module's default link is this transport: a run over it programs nothing
// when the board has no link, and succeeds over the simulated drivers.
TEST(SpiTransport, IsTheEnginesDefaultLink) {
    InFreshProcess([] {
        LinkPrinter printer;
        EXPECT_EQ(&DefaultFpgaLink(), static_cast<FpgaLink*>(&TheFpgaSpiTransport()));
        printer.Temp().WriteBytes("\\UpgradeTemp\\algo.sea", kEmptyAlgorithm);
        SetFpgaFiles("\\UpgradeTemp\\algo.sea", "");
        EXPECT_EQ(RunAlgorithm(kFpgaAnyAlgorithmId), kFpgaSuccess);
        const std::vector<std::string> brief = fwtest::BriefTrace(printer.LinkCalls());
        ASSERT_EQ(brief.size(), 8u);
        EXPECT_EQ(brief.back(), "GIO1: close");
    });
}

}  // namespace
}  // namespace linktest
