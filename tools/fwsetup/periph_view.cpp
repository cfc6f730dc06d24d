#include "periph_view.h"

#include "app.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "periphconfig/bus_records.h"
#include "periphconfig/peripheral_records.h"
#include "periphconfig/printhead_records.h"

namespace fwsetup {
namespace {

// Adds fields to one view, in the order they are added.
class Fields {
  public:
    explicit Fields(RecordView& view) : view_(view) {}

    void Number(const char* name, int64_t value, const NameTable* table = nullptr) {
        FieldView& field = Add(name, FieldView::kNumber);
        field.number = value;
        field.table = table;
    }
    void Flag(const char* name, bool value) { Add(name, FieldView::kFlag).flag = value; }
    void Text(const char* name, const std::string& value) {
        Add(name, FieldView::kText).text = value;
    }
    void Record(const char* name, std::shared_ptr<RecordView> record) {
        Add(name, FieldView::kRecord).record = std::move(record);
    }
    void Records(const char* name, const std::vector<std::shared_ptr<DeviceConfig>>& records) {
        FieldView& field = Add(name, FieldView::kRecordList);
        for (const std::shared_ptr<DeviceConfig>& record : records)
            field.records.push_back(ViewRecord(record));
    }
    template <typename T>
    void Numbers(const char* name, const std::vector<T>& values, const NameTable* table) {
        FieldView& field = Add(name, FieldView::kNumberList);
        field.table = table;
        for (const T& value : values)
            field.numbers.push_back(static_cast<int64_t>(value));
    }

  private:
    FieldView& Add(const char* name, FieldView::Kind kind) {
        view_.fields.emplace_back();
        view_.fields.back().name = name;
        view_.fields.back().kind = kind;
        return view_.fields.back();
    }
    RecordView& view_;
};

std::shared_ptr<RecordView> NewView(const DeviceConfig& record) {
    auto view = std::make_shared<RecordView>();
    view->name = record.name;
    view->deviceClass = record.deviceClass;
    return view;
}

// The readable names of the two GPIO fields that compare a text.
const NameTable& Directions() {
    static const NameTable::Row rows[] = {{"Input", 0}, {"Output", 1}};
    static const NameTable table(rows, 2);
    return table;
}

const NameTable& Levels() {
    static const NameTable::Row rows[] = {{"Low", 0}, {"High", 1}};
    static const NameTable table(rows, 2);
    return table;
}

// One function per record type; each adds its base's fields first.

void AddSpiMasterBus(const SpiMasterBusConfig& r, Fields& f) {
    f.Number("module", r.module);
}

void AddAm335xSpiBus(const Am335xSpiBusConfig& r, Fields& f) {
    AddSpiMasterBus(r, f);
    f.Number("pinMux", r.pinMux, &DeviceNames::SpiPinMux());
}

void AddI2CMasterBus(const I2CMasterBusConfig& r, Fields& f) {
    f.Number("channel", r.channel);
    f.Number("speed", r.speed);
}

void AddAm335xI2CBus(const Am335xI2CBusConfig& r, Fields& f) {
    AddI2CMasterBus(r, f);
    f.Number("pinMux", r.pinMux, &DeviceNames::I2CPinMux());
}

void AddSpiDevice(const SpiDeviceConfig& r, Fields& f) {
    f.Number("spiModule", r.spiModule);
    f.Number("transferMode", r.transferMode, &DeviceNames::SpiTransferModes());
    f.Number("chipSelect", r.chipSelect);
    f.Number("chipSelectPolarity", r.chipSelectPolarity, &DeviceNames::SpiChipSelectPolarities());
    f.Number("clockMode", r.clockMode);
    f.Number("clkFrequency", r.clkFrequency);
    f.Number("wordLength", r.wordLength);
    if (r.hasWriteMode)
        f.Number("writeMode", r.writeMode, &DeviceNames::SpiWriteModes());
}

void AddI2CDevice(const I2CDeviceConfig& r, Fields& f) {
    f.Text("masterBus", r.masterBus);
    f.Number("address", r.address);
    f.Number("addressMode", r.addressMode, &DeviceNames::I2CAddressModes());
}

void AddGpio(const GpioConfig& r, Fields& f) {
    f.Number("direction", r.direction, &Directions());
    f.Number("level", r.level, &Levels());
    f.Flag("invertLogic", r.invertLogic);
}

void AddAm335xGpio(const Am335xGpioConfig& r, Fields& f) {
    AddGpio(r, f);
    f.Number("pinNumber", r.pinNumber, &DeviceNames::Am335xGpioPins());
    f.Number("pinPullType", r.pinPullType, &DeviceNames::PullTypes());
}

void AddGpmcBus(const GpmcBusConfig& r, Fields& f) {
    f.Number("chipSelect", r.chipSelect);
    f.Number("pinMux", r.pinMux, &DeviceNames::GpmcPinMux());
    f.Numbers("busPins", r.busPins, &DeviceNames::GpmcPins());
    f.Numbers("busPinPullTypes", r.busPinPullTypes, &DeviceNames::PullTypes());
}

template <typename Record, typename Add>
std::shared_ptr<RecordView> ViewAs(const Record* record, Add add) {
    if (record == nullptr)
        return nullptr;
    std::shared_ptr<RecordView> view = NewView(*record);
    Fields fields(*view);
    add(*record, fields);
    return view;
}

// The GPIO record of a member that builds one itself: its class was checked when
// it was built, and is checked again here before the conversion.
std::shared_ptr<RecordView> ViewGpio(const std::shared_ptr<GpioConfig>& gpio) {
    if (gpio && gpio->deviceClass == kDeviceClassAm335xGpio)
        return ViewAs(static_cast<const Am335xGpioConfig*>(gpio.get()), AddAm335xGpio);
    return ViewAs(gpio.get(), AddGpio);
}

void AddIoExpander(const IoExpanderConfig& r, Fields& f) {
    f.Record("device", ViewAs(r.device.get(), AddI2CDevice));
    f.Record("intPin", ViewGpio(r.intPin));
}

void AddSlg46533IoExpander(const Slg46533IoExpanderConfig& r, Fields& f) {
    AddIoExpander(r, f);
    f.Records("ioPoints", r.ioPoints);
}

void AddTca6424Pin(const Tca6424IoExpanderPinConfig& r, Fields& f) {
    AddGpio(r, f);
    f.Number("pinNumber", r.pinNumber, &DeviceNames::Tca6424Pins());
    f.Text("expanderName", r.expanderName);
}

void AddPca9505Pin(const Pca9505IoExpanderPinConfig& r, Fields& f) {
    AddGpio(r, f);
    f.Text("expanderName", r.expanderName);
    f.Number("pinNumber", r.pinNumber, &DeviceNames::Pca9505Pins());
}

void AddSlg46533Pin(const Slg46533IoExpanderPinConfig& r, Fields& f) {
    AddGpio(r, f);
    f.Number("ioNumber", r.ioNumber);
    f.Number("address", r.address);
    f.Number("bitOffset", r.bitOffset);
    f.Flag("interruptible", r.interruptible);
}

void AddTimer(const Am335xGeneralPurposeTimerConfig& r, Fields& f) {
    f.Number("timerModule", r.timerModule);
}

void AddIoTimer(const Am335xGeneralPurposeIoTimerConfig& r, Fields& f) {
    AddTimer(r, f);
    f.Number("pinMux", r.pinMux, &DeviceNames::TimerPinMux());
    f.Number("level", r.level, &Levels());
    f.Number("pinPullType", r.pinPullType, &DeviceNames::PullTypes());
}

void AddPwm(const Am335xPwmConfig& r, Fields& f) {
    f.Number("outputPin", r.outputPin, &DeviceNames::PwmOutputPins());
    if (r.hasEventTrigger)
        f.Number("eventTrigger", r.eventTrigger, &DeviceNames::PwmEventTriggers());
}

void AddEcap(const Am335xEcapConfig& r, Fields& f) {
    f.Number("pinMux", r.pinMux);
    f.Number("module", r.module);
}

void AddEqep(const Am335xEqepConfig& r, Fields& f) {
    f.Number("module", r.module);
    f.Number("pinPullType", r.pinPullType, &DeviceNames::PullTypes());
    f.Number("countsPerInt", r.countsPerInt);
    f.Number("countsPerRev", r.countsPerRev);
    f.Number("pinMux", r.pinMux);
    f.Numbers("enabledInputs", r.enabledInputs, &DeviceNames::EqepInputs());
}

void AddAdc(const Am335xAdcConfig& r, Fields& f) {
    if (!r.hasChannel)
        return;
    f.Number("channel", r.channel, &DeviceNames::AdcChannels());
    f.Number("numSamplesToAverage", r.numSamplesToAverage, &DeviceNames::AdcAveragings());
}

void AddInterrupt(const GenericInterruptConfig& r, Fields& f) {
    f.Number("irqNumber", r.irqNumber);
}

void AddAnalogEdgeSensor(const AnalogEdgeSensorConfig& r, Fields& f) {
    f.Record("adc", ViewAs(r.adc.get(), AddAdc));
}

void AddDigitalEdgeSensor(const DigitalEdgeSensorConfig& r, Fields& f) {
    f.Record("gpio", ViewGpio(r.gpio));
}

void AddFpgaHardware(const FpgaHardwareConfig& r, Fields& f) {
    f.Record("spiMaster", ViewRecord(r.spiMaster));
    f.Record("gpioChipSelect", ViewRecord(r.gpioChipSelect));
}

void AddThermalPrinthead(const ThermalPrintheadConfig& r, Fields& f) {
    f.Record("powerEnable", ViewRecord(r.powerEnable));
    f.Record("latch", ViewRecord(r.latch));
    f.Record("strobeEnable", ViewRecord(r.strobeEnable));
    f.Records("strobes", r.strobes);
    f.Record("data", ViewRecord(r.data));
}

void AddRohmPrinthead(const Rohm_KF3002_GD31C_PrintheadConfig& r, Fields& f) {
    AddThermalPrinthead(r, f);
    f.Number("adcChannel", r.adcChannel, &DeviceNames::AdcChannels());
}

void AddFpgaPrinthead(const FpgaAcceleratedPrintheadConfig& r, Fields& f) {
    f.Record("powerEnable", ViewRecord(r.powerEnable));
    f.Record("printEnable", ViewRecord(r.printEnable));
    f.Record("rasterSync", ViewRecord(r.rasterSync));
    f.Record("rasterPreSync", ViewRecord(r.rasterPreSync));
    f.Record("data", ViewRecord(r.data));
    f.Record("fpgaComm", ViewRecord(r.fpgaComm));
    f.Number("adcChannel", r.adcChannel, &DeviceNames::AdcChannels());
}

void AddPrintheadEeprom(const PrintheadEepromConfig& r, Fields& f) {
    f.Record("printheadEeprom", ViewRecord(r.printheadEeprom));
    f.Record("eepromIoxMuxSwitch", ViewRecord(r.eepromIoxMuxSwitch));
}

void AddFpgaComm(const FpgaCommConfig& r, Fields& f) {
    f.Text("fapiVersion", r.fapiVersion);
    f.Flag("parallelDataTransfer", r.parallelDataTransfer);
    f.Flag("noHistoriesData", r.noHistoriesData);
}

void AddDacChannel(const DacChannelConfig& r, Fields& f) {
    f.Number("channel", r.channel);
}

void AddDaisyChainedDac(const DaisyChainedDACConfig& r, Fields& f) {
    f.Number("numDevices", r.numDevices);
    f.Number("numChannelsPerDevice", r.numChannelsPerDevice);
}

// A factory-made record, converted to the type its class stands for.
template <typename Record, typename Add>
std::shared_ptr<RecordView> ViewFactoryRecord(const DeviceConfig& record, Add add) {
    return ViewAs(static_cast<const Record*>(&record), add);
}

}  // namespace

std::shared_ptr<RecordView> ViewRecord(const std::shared_ptr<DeviceConfig>& record) {
    if (!record)
        return nullptr;
    const DeviceConfig& r = *record;
    switch (r.deviceClass) {
        case kDeviceClassSpiMasterBus:
            return ViewFactoryRecord<SpiMasterBusConfig>(r, AddSpiMasterBus);
        case kDeviceClassI2CMasterBus:
            return ViewFactoryRecord<I2CMasterBusConfig>(r, AddI2CMasterBus);
        case kDeviceClassSpiDevice:
            return ViewFactoryRecord<SpiDeviceConfig>(r, AddSpiDevice);
        case kDeviceClassI2CDevice:
            return ViewFactoryRecord<I2CDeviceConfig>(r, AddI2CDevice);
        case kDeviceClassGpio:
            return ViewFactoryRecord<GpioConfig>(r, AddGpio);
        case kDeviceClassIoExpander:
        case kDeviceClassTca6424IoExpander:
        case kDeviceClassPca9505IoExpander:
            return ViewFactoryRecord<IoExpanderConfig>(r, AddIoExpander);
        case kDeviceClassAnalogEdgeSensor:
            return ViewFactoryRecord<AnalogEdgeSensorConfig>(r, AddAnalogEdgeSensor);
        case kDeviceClassDigitalEdgeSensor:
            return ViewFactoryRecord<DigitalEdgeSensorConfig>(r, AddDigitalEdgeSensor);
        case kDeviceClassThermalPrinthead:
            return ViewFactoryRecord<ThermalPrintheadConfig>(r, AddThermalPrinthead);
        case kDeviceClassRohm_KF3002_GD31C_Printhead:
            return ViewFactoryRecord<Rohm_KF3002_GD31C_PrintheadConfig>(r, AddRohmPrinthead);
        case kDeviceClassFpgaAcceleratedPrinthead:
            return ViewFactoryRecord<FpgaAcceleratedPrintheadConfig>(r, AddFpgaPrinthead);
        case kDeviceClassAm335xAdc:
            return ViewFactoryRecord<Am335xAdcConfig>(r, AddAdc);
        case kDeviceClassAm335xI2CBus:
            return ViewFactoryRecord<Am335xI2CBusConfig>(r, AddAm335xI2CBus);
        case kDeviceClassAm335xGpio:
            return ViewFactoryRecord<Am335xGpioConfig>(r, AddAm335xGpio);
        case kDeviceClassAm335xSpiBus:
            return ViewFactoryRecord<Am335xSpiBusConfig>(r, AddAm335xSpiBus);
        case kDeviceClassAm335xPwm:
            return ViewFactoryRecord<Am335xPwmConfig>(r, AddPwm);
        case kDeviceClassAm335xEqep:
            return ViewFactoryRecord<Am335xEqepConfig>(r, AddEqep);
        case kDeviceClassAm335xEcap:
            return ViewFactoryRecord<Am335xEcapConfig>(r, AddEcap);
        case kDeviceClassAm335xGeneralPurposeTimer:
            return ViewFactoryRecord<Am335xGeneralPurposeTimerConfig>(r, AddTimer);
        case kDeviceClassAm335xGeneralPurposeIoTimer:
            return ViewFactoryRecord<Am335xGeneralPurposeIoTimerConfig>(r, AddIoTimer);
        case kDeviceClassTca6424IoExpanderPin:
            return ViewFactoryRecord<Tca6424IoExpanderPinConfig>(r, AddTca6424Pin);
        case kDeviceClassPca9505IoExpanderPin:
            return ViewFactoryRecord<Pca9505IoExpanderPinConfig>(r, AddPca9505Pin);
        case kDeviceClassSlg46533IoExpander:
            return ViewFactoryRecord<Slg46533IoExpanderConfig>(r, AddSlg46533IoExpander);
        case kDeviceClassSlg46533IoExpanderPin:
            return ViewFactoryRecord<Slg46533IoExpanderPinConfig>(r, AddSlg46533Pin);
        case kDeviceClassDacChannel:
            return ViewFactoryRecord<DacChannelConfig>(r, AddDacChannel);
        case kDeviceClassGenericInterrupt:
            return ViewFactoryRecord<GenericInterruptConfig>(r, AddInterrupt);
        case kDeviceClassFpgaHardwareConfig:
            return ViewFactoryRecord<FpgaHardwareConfig>(r, AddFpgaHardware);
        case kDeviceClassGpmcBus:
            return ViewFactoryRecord<GpmcBusConfig>(r, AddGpmcBus);
        case kDeviceClassPrintheadEepromConfig:
            return ViewFactoryRecord<PrintheadEepromConfig>(r, AddPrintheadEeprom);
        case kDeviceClassDaisyChainedDAC:
            return ViewFactoryRecord<DaisyChainedDACConfig>(r, AddDaisyChainedDac);
        case kDeviceClassFpgaComm:
            return ViewFactoryRecord<FpgaCommConfig>(r, AddFpgaComm);
        case kDeviceClassUnknown:
        case kDeviceClassIoExpanderPin:
            break;
    }
    // The factory builds no record for these classes; show what the base knows.
    return NewView(r);
}

namespace {

typedef rapidjson::Writer<rapidjson::StringBuffer> JsonWriter;

void WriteString(JsonWriter& writer, const std::string& text) {
    const std::string valid = ValidUtf8(text);
    writer.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

void WriteRecord(JsonWriter& writer, const std::shared_ptr<RecordView>& view);

void WriteField(JsonWriter& writer, const FieldView& field) {
    writer.Key(field.name.c_str());
    switch (field.kind) {
        case FieldView::kNumber:
            writer.Int64(field.number);
            break;
        case FieldView::kFlag:
            writer.Bool(field.flag);
            break;
        case FieldView::kText:
            WriteString(writer, field.text);
            break;
        case FieldView::kRecord:
            WriteRecord(writer, field.record);
            break;
        case FieldView::kRecordList:
            writer.StartArray();
            for (const std::shared_ptr<RecordView>& record : field.records)
                WriteRecord(writer, record);
            writer.EndArray();
            break;
        case FieldView::kNumberList:
            writer.StartArray();
            for (int64_t number : field.numbers)
                writer.Int64(number);
            writer.EndArray();
            break;
    }
}

// Records nest at most DeviceConfig::kMaxNesting deep: the recursion is bounded.
void WriteRecord(JsonWriter& writer, const std::shared_ptr<RecordView>& view) {
    if (!view) {
        writer.Null();
        return;
    }
    writer.StartObject();
    writer.Key("name");
    WriteString(writer, view->name);
    writer.Key("deviceClass");
    writer.Int(view->deviceClass);
    for (const FieldView& field : view->fields)
        WriteField(writer, field);
    writer.EndObject();
}

// The n-th element of the document's device list, when the document has one.
const rapidjson::Value* DocumentDevice(const PeripheralConfigFile& file, size_t n) {
    const rapidjson::Value* configuration =
        DeviceConfig::Member(file.GetDocument(), "configuration");
    if (configuration == nullptr)
        return nullptr;
    const rapidjson::Value* devices = DeviceConfig::Member(*configuration, "devices");
    if (devices == nullptr || !devices->IsArray() || n >= devices->Size())
        return nullptr;
    return &(*devices)[static_cast<rapidjson::SizeType>(n)];
}

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : ValidUtf8(text)) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (u < 0x20 || u == 0x7F) {
            static const char kHex[] = "0123456789abcdef";
            quoted += "\\x";
            quoted += kHex[u >> 4];
            quoted += kHex[u & 0xF];
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string ClassName(int32_t deviceClass) {
    const std::string name = DeviceNames::Classes().NameOf(deviceClass);
    return name.empty() ? "class " + std::to_string(deviceClass) : name;
}

std::string Heading(const RecordView& view) {
    return Quoted(view.name) + " " + ClassName(view.deviceClass) + " (class " +
           std::to_string(view.deviceClass) + ")";
}

std::string NumberText(int64_t number, const NameTable* table) {
    std::string text = std::to_string(number);
    if (table != nullptr) {
        const std::string name = table->NameOf(static_cast<int32_t>(number));
        if (!name.empty())
            text += " (" + name + ")";
    }
    return text;
}

void PrintRecord(const RecordView& view, const std::string& indent, std::ostream& out);

void PrintField(const FieldView& field, const std::string& indent, std::ostream& out) {
    out << indent << field.name << ": ";
    switch (field.kind) {
        case FieldView::kNumber:
            out << NumberText(field.number, field.table) << "\n";
            break;
        case FieldView::kFlag:
            out << (field.flag ? "true" : "false") << "\n";
            break;
        case FieldView::kText:
            out << Quoted(field.text) << "\n";
            break;
        case FieldView::kRecord:
            if (!field.record) {
                out << "none\n";
                break;
            }
            out << Heading(*field.record) << "\n";
            PrintRecord(*field.record, indent + "    ", out);
            break;
        case FieldView::kRecordList:
            out << field.records.size() << (field.records.size() == 1 ? " record" : " records")
                << "\n";
            for (size_t i = 0; i < field.records.size(); ++i) {
                out << indent << "  [" << i << "] ";
                if (!field.records[i]) {
                    out << "null (no record)\n";
                    continue;
                }
                out << Heading(*field.records[i]) << "\n";
                PrintRecord(*field.records[i], indent + "      ", out);
            }
            break;
        case FieldView::kNumberList: {
            out << "[";
            for (size_t i = 0; i < field.numbers.size(); ++i)
                out << (i == 0 ? "" : ", ") << NumberText(field.numbers[i], field.table);
            out << "]\n";
            break;
        }
    }
}

void PrintRecord(const RecordView& view, const std::string& indent, std::ostream& out) {
    for (const FieldView& field : view.fields)
        PrintField(field, indent, out);
}

// Why a top-level entry has no record, told from the document entry it came from.
std::string NullReason(const rapidjson::Value* device) {
    if (device == nullptr || !device->IsObject())
        return "not a device object";
    const rapidjson::Value* name = DeviceConfig::Member(*device, "name");
    const rapidjson::Value* cls = DeviceConfig::Member(*device, "class");
    std::string shown = name != nullptr && name->IsString()
                            ? Quoted(std::string(name->GetString(), name->GetStringLength())) + " "
                            : std::string();
    if (cls == nullptr || !cls->IsString())
        return shown + "without a \"class\" string";
    const std::string text(cls->GetString(), cls->GetStringLength());
    const DeviceClass number = ParseDeviceClass(text);
    if (!DeviceNames::Classes().Contains(text))
        return shown + "of class " + Quoted(text) + ": no such class";
    if (number == kDeviceClassUnknown || number == kDeviceClassIoExpanderPin)
        return shown + "of class " + Quoted(text) + ": a class without a record type";
    if (name == nullptr || !name->IsString())
        return "of class " + Quoted(text) + " without a \"name\" string";
    return shown + "of class " + Quoted(text) +
           ": a member is missing, of the wrong JSON type, or nested too deep";
}

void PrintFpgaLink(const PeripheralConfigFile& file, std::ostream& out) {
    out << "FPGA link (device " << Quoted(FpgaHardwareConfig::kRecordName) << "):\n";
    const std::shared_ptr<DeviceConfig> record = file.FindDevice(FpgaHardwareConfig::kRecordName);
    if (!record) {
        out << "  none: no such device, so the FPGA cannot be programmed\n";
        return;
    }
    const std::shared_ptr<FpgaHardwareConfig> fpga = FpgaHardwareConfig::FromRecord(record);
    if (!fpga) {
        if (record->deviceClass != kDeviceClassFpgaHardwareConfig) {
            out << "  none: the device is of class " << ClassName(record->deviceClass)
                << ", not FpgaHardwareConfig\n";
            return;
        }
        const FpgaHardwareConfig& config = static_cast<const FpgaHardwareConfig&>(*record);
        if (config.SpiDevice() == nullptr)
            out << "  none: its spiMaster is not a SpiDevice record\n";
        else
            out << "  none: its gpioChipSelect is not an Am335xGpio record\n";
        return;
    }
    const SpiDeviceConfig& spi = *fpga->SpiDevice();
    const uint32_t divider = fpga->GetClockDivider();
    out << "  SPI device: SPI" << static_cast<int>(fpga->GetSpiModule()) + 1 << ": (module "
        << static_cast<int>(fpga->GetSpiModule()) << "), chip select "
        << static_cast<int>(fpga->GetChipSelect()) << "\n";
    out << "  clock: " << spi.clkFrequency << " Hz asked, divider " << divider;
    if (divider != 0)
        out << " of " << FpgaHardwareConfig::kSpiReferenceClock
            << " Hz = " << FpgaHardwareConfig::kSpiReferenceClock / divider << " Hz";
    else
        out << " (the clock asked is above the reference clock)";
    out << "; mode " << spi.clockMode << ": polarity " << (fpga->GetClockPolarity() ? 1 : 0)
        << ", phase " << (fpga->GetClockPhase() ? 1 : 0) << "\n";
    out << "  word length: " << static_cast<int>(fpga->GetWordLength()) << " bits\n";
    out << "  chip-select pin: "
        << NumberText(fpga->GetChipSelectPin(), &DeviceNames::Am335xGpioPins())
        << ", through GIO1:\n";
}

}  // namespace

std::string PeriphJson(const PeripheralConfigFile& file, bool loaded) {
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("loaded");
    writer.Bool(loaded);
    const std::shared_ptr<PlatformConfig> platform = file.GetPlatformConfig();
    writer.Key("platform");
    writer.StartObject();
    writer.Key("productName");
    WriteString(writer, platform->productName);
    writer.Key("cpuEngine");
    WriteString(writer, platform->cpuEngine);
    writer.Key("mainboard");
    WriteString(writer, platform->mainboard);
    writer.EndObject();
    writer.Key("devices");
    writer.StartArray();
    for (const std::shared_ptr<DeviceConfig>& record : file.GetDevices())
        WriteRecord(writer, ViewRecord(record));
    writer.EndArray();
    writer.EndObject();
    return buffer.GetString();
}

void PrintPeriphAccount(const PeripheralConfigFile& file, bool loaded, std::ostream& out) {
    out << "loaded: " << (loaded ? "yes" : "no (see below)") << "\n";
    const std::shared_ptr<PlatformConfig> platform = file.GetPlatformConfig();
    out << "platform:\n";
    out << "  productName: " << Quoted(platform->productName) << "\n";
    out << "  cpuEngine: " << Quoted(platform->cpuEngine) << "\n";
    out << "  mainboard: " << Quoted(platform->mainboard) << "\n";
    const std::deque<std::shared_ptr<DeviceConfig>>& devices = file.GetDevices();
    out << "devices: " << devices.size() << "\n";
    for (size_t i = 0; i < devices.size(); ++i) {
        out << "  [" << i << "] ";
        if (!devices[i]) {
            out << "null: " << NullReason(DocumentDevice(file, i)) << "\n";
            continue;
        }
        const std::shared_ptr<RecordView> view = ViewRecord(devices[i]);
        out << Heading(*view) << "\n";
        PrintRecord(*view, "      ", out);
    }
    PrintFpgaLink(file, out);
}

}  // namespace fwsetup
