// Every name table of the device records: each name with its value, nothing
// else in the table, and the fallback for texts it lacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "periphconfig/bus_records.h"
#include "periphconfig/peripheral_records.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;
typedef std::vector<std::pair<std::string, int32_t>> Rows;

// "g_b" for every group and bit, the value g * bits + b.
Rows GroupBit(int groups, int bits) {
    Rows rows;
    for (int g = 0; g < groups; ++g)
        for (int b = 0; b < bits; ++b)
            rows.push_back({std::to_string(g) + "_" + std::to_string(b), g * bits + b});
    return rows;
}

Rows Timers() {
    Rows rows;
    for (int t = 4; t <= 7; ++t)
        for (int m = 0; m <= 3; ++m)
            rows.push_back(
                {"timer" + std::to_string(t) + "_mux" + std::to_string(m), (t - 4) * 4 + m});
    return rows;
}

struct TableCase {
    const char* what;
    const NameTable& (*table)();
    Rows rows;
    int32_t fallback;
};

std::vector<TableCase> Tables() {
    namespace N = DeviceNames;
    return {
        {"SpiTransferModes",
         N::SpiTransferModes,
         {{"TransmitAndReceive", 0}, {"ReceiveFromDeviceOnly", 1}, {"TransmitToDeviceOnly", 2}},
         0},
        {"SpiChipSelectPolarities",
         N::SpiChipSelectPolarities,
         {{"ActiveLow", 0}, {"ActiveHigh", 1}},
         0},
        {"SpiWriteModes", N::SpiWriteModes, {{"DirectWrite", 0}, {"DmaWrite", 1}}, 0},
        {"I2CAddressModes", N::I2CAddressModes, {{"SevenBit", 0}, {"TenBit", 1}}, 0},
        {"PullTypes", N::PullTypes, {{"None", 0}, {"PullUp", 1}, {"PullDown", 2}}, 0},
        {"SpiPinMux",
         N::SpiPinMux,
         {{"SPI0_clK_d0", 0},
          {"SPI0_clk_d0_d1_cs0", 1},
          {"SPI0_clk_d0_d1_cs1_cs0", 2},
          {"SPI1_clk_data_cs0_cs1_mux0", 3},
          {"SPI1_clk_data_cs0_cs1_mux1", 4},
          {"SPI1_clk_data_cs0_mux0_cs1_mux2", 5},
          {"SPI1_clk_data_cs0_mux2_cs1_mux0", 6},
          {"SPI1_clk_data_cs0_mux2_cs1_mux2", 7},
          {"SPI1_clk_data_mux0_cs0_mux1", 8},
          {"SPI1_clk_data_mux0_cs0_mux4", 9},
          {"SPI1_clk_data_mux1_cs0_mux4", 10},
          {"SPI1_clk_data_mux2_cs0_mux4", 11},
          {"SPI1_clk_data_mux0_cs0_cs1_mux3", 12},
          {"SPI1_clk_data_mux1_cs0_cs1_mux3", 13},
          {"SPI1_clk_data_mux1_cs0_cs1_mux2", 14},
          {"SPI1_clk_data_mux2_cs0_cs1_mux1", 15},
          {"SPI1_clk_data_mux2_cs0_cs1_mux3", 16},
          {"SPI1_clk_data_mux1_cs0_mux2_cs1_mux0", 17}},
         0},
        {"I2CPinMux",
         N::I2CPinMux,
         {{"I2C0", 0},
          {"I2C1_mux0", 1},
          {"I2C1_mux1", 2},
          {"I2C1_mux2", 3},
          {"I2C1_mux3", 4},
          {"I2C2_mux0", 5},
          {"I2C2_mux1", 6},
          {"I2C2_mux2", 7}},
         0},
        {"GpmcPinMux", N::GpmcPinMux, {{"Gpmc_Mux0", 0}}, 0},
        {"GpmcPins",
         N::GpmcPins,
         {{"GPMC_AD_8", 0},
          {"GPMC_AD_9", 1},
          {"GPMC_AD_10", 2},
          {"GPMC_AD_11", 3},
          {"GPMC_AD_12", 4},
          {"GPMC_AD_13", 5},
          {"GPMC_AD_14", 6},
          {"GPMC_AD_15", 7},
          {"GPMC_A_16", 8},
          {"GPMC_A_17", 9},
          {"GPMC_A_18", 10},
          {"GPMC_A_19", 11},
          {"GPMC_A_20", 12},
          {"GPMC_A_21", 13},
          {"GPMC_WAIT1", 14},
          {"GPMC_CSN2", 15},
          {"GPMC_CLK", 16}},
         0},
        {"Am335xGpioPins", N::Am335xGpioPins, GroupBit(4, 32), 0},
        {"Tca6424Pins", N::Tca6424Pins, GroupBit(3, 8), 0},
        {"Pca9505Pins", N::Pca9505Pins, GroupBit(5, 8), 0},
        {"AdcChannels",
         N::AdcChannels,
         {{"Ain0", 0},
          {"Ain1", 1},
          {"Ain2", 2},
          {"Ain3", 3},
          {"Ain4", 4},
          {"Ain5", 5},
          {"Ain6", 6},
          {"Ain7", 7}},
         0},
        {"AdcAveragings",
         N::AdcAveragings,
         {{"NoAverage", 0},
          {"TwoSamples", 1},
          {"FourSamples", 2},
          {"EightSamples", 3},
          {"SixteenSamples", 4}},
         0},
        {"PwmEventTriggers",
         N::PwmEventTriggers,
         {{"Zero", 0},
          {"Period", 1},
          {"CompareAUp", 2},
          {"CompareADown", 3},
          {"CompareBUp", 4},
          {"CompareBDown", 5}},
         0},
        {"EqepInputs",
         N::EqepInputs,
         {{"Input_A", 0}, {"Input_B", 1}, {"Input_I", 2}, {"Input_S", 3}},
         0},
        {"TimerPinMux", N::TimerPinMux, Timers(), 0},
        {"PwmOutputPins",
         N::PwmOutputPins,
         {{"Ehrpwm0A_Mux1", 0},
          {"Ehrpwm0B_Mux1", 1},
          {"Ehrpwm0A_Mux0", 2},
          {"Ehrpwm0B_Mux0", 3},
          {"Ehrpwm1A_Mux1", 4},
          {"Ehrpwm1B_Mux1", 5},
          {"Ehrpwm1A_Mux0", 6},
          {"Ehrpwm1B_Mux0", 7},
          {"Ehrpwm2A_Mux1", 8},
          {"Ehrpwm2B_Mux1", 9},
          {"Ehrpwm2A_Mux0", 10},
          {"Ehrpwm2B_Mux0", 11}},
         2},
        {"EcapModules",
         N::EcapModules,
         {{"Ecap0", 0},
          {"Ecap1_Mux0", 1},
          {"Ecap1_Mux1", 1},
          {"Ecap1_Mux2", 1},
          {"Ecap2_Mux0", 2},
          {"Ecap2_Mux1", 2},
          {"Ecap2_Mux2", 2}},
         0},
        {"EcapPinMux",
         N::EcapPinMux,
         {{"Ecap0", 0},
          {"Ecap1_Mux0", 1},
          {"Ecap1_Mux1", 2},
          {"Ecap1_Mux2", 3},
          {"Ecap2_Mux0", 4},
          {"Ecap2_Mux1", 5},
          {"Ecap2_Mux2", 6}},
         0},
        {"EqepModules",
         N::EqepModules,
         {{"Eqep0_Mux0", 0},
          {"Eqep0_Mux1", 0},
          {"Eqep1_Mux0", 1},
          {"Eqep1_Mux1", 1},
          {"Eqep2_Mux0", 2},
          {"Eqep2_Mux1", 2}},
         0},
        {"EqepPinMux",
         N::EqepPinMux,
         {{"Eqep0_Mux0", 0},
          {"Eqep0_Mux1", 1},
          {"Eqep1_Mux0", 2},
          {"Eqep1_Mux1", 3},
          {"Eqep2_Mux0", 4},
          {"Eqep2_Mux1", 5}},
         0},
    };
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST(NameTables, HoldExactlyTheirNames) {
    TempDevice device;
    for (const TableCase& t : Tables()) {
        const NameTable& table = t.table();
        // The names, their values and their order (which names a value first).
        EXPECT_EQ(table.GetRows(), t.rows) << t.what;
        EXPECT_EQ(table.Fallback(), t.fallback) << t.what;
        std::set<std::string> names;
        for (const auto& row : t.rows) {
            names.insert(row.first);
            EXPECT_EQ(table.Lookup(row.first), row.second) << t.what << " " << row.first;
        }
        // Exact, case-sensitive comparison: any other spelling gives the fallback.
        for (const auto& row : t.rows) {
            for (const std::string& other :
                 {Lower(row.first), Upper(row.first), row.first + " ", " " + row.first,
                  row.first.substr(1), std::string(row.first).append(1, '\0')}) {
                if (names.count(other) == 0) {
                    EXPECT_EQ(table.Lookup(other), t.fallback) << t.what << " '" << other << "'";
                }
            }
        }
        EXPECT_EQ(table.Lookup(""), t.fallback) << t.what;
    }
}

TEST(NameTables, PinNamesBelongToTheirOwnTable) {
    TempDevice device;
    namespace N = DeviceNames;
    struct Case {
        const NameTable& table;
        const char* name;
        int32_t value;
    };
    const Case cases[] = {
        {N::Am335xGpioPins(), "0_10", 10},    {N::Am335xGpioPins(), "2_5", 69},
        {N::Am335xGpioPins(), "1_0", 32},     {N::Am335xGpioPins(), "3_31", 127},
        {N::Am335xGpioPins(), "4_0", 0},      {N::Am335xGpioPins(), "0_32", 0},
        {N::Am335xGpioPins(), "01_0", 0},     {N::Am335xGpioPins(), "1_07", 0},
        {N::Pca9505Pins(), "4_7", 39},        {N::Tca6424Pins(), "4_7", 0},
        {N::Tca6424Pins(), "3_0", 0},         {N::Tca6424Pins(), "2_7", 23},
        {N::Tca6424Pins(), "0_8", 0},         {N::TimerPinMux(), "timer6_mux2", 10},
        {N::TimerPinMux(), "timer8_mux0", 0}, {N::PwmOutputPins(), "Ehrpwm3A_Mux0", 2},
        {N::PullTypes(), "pulldown", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.table.Lookup(c.name), c.value) << c.name;
}

}  // namespace
