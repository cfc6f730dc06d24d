// What `fwsetup periph show` prints of a loaded peripheral configuration: every
// record as its fields, in the order their types declare them (base type first),
// written as JSON or as a readable account.
#ifndef FWSETUP_TOOLS_PERIPH_VIEW_H
#define FWSETUP_TOOLS_PERIPH_VIEW_H

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "periphconfig/peripheral_config_file.h"

namespace fwsetup {

struct RecordView;

// One field of a record.
struct FieldView {
    enum Kind { kNumber, kFlag, kText, kRecord, kRecordList, kNumberList };

    std::string name;
    Kind kind = kNumber;
    int64_t number = 0;
    bool flag = false;
    std::string text;
    const NameTable* table = nullptr;    // names the numbers in the readable account
    std::shared_ptr<RecordView> record;  // null stands for a null record
    std::vector<std::shared_ptr<RecordView>> records;
    std::vector<int64_t> numbers;
};

struct RecordView {
    std::string name;
    int32_t deviceClass = 0;
    std::vector<FieldView> fields;
};

// The view of a record as the factory built it (its class tells its type); null
// for a null record.
std::shared_ptr<RecordView> ViewRecord(const std::shared_ptr<DeviceConfig>& record);

// The document `periph show --json` prints: {"loaded", "platform", "devices"}.
std::string PeriphJson(const PeripheralConfigFile& file, bool loaded);
// The readable account: the platform, each device with its fields (nested
// records indented), and the FPGA link the module would use.
void PrintPeriphAccount(const PeripheralConfigFile& file, bool loaded, std::ostream& out);

}  // namespace fwsetup

#endif
