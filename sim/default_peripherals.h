// The peripheral configuration of the default simulated printer: the document
// sim/data/default-peripherals.json (product "OndrelThreeHundredDpi"), built
// into the simulator. `fwsetup device init` stores it as EEPROM region 0.
#ifndef FWSETUP_SIM_DEFAULT_PERIPHERALS_H
#define FWSETUP_SIM_DEFAULT_PERIPHERALS_H

#include <string>

namespace sim {

extern const char kDefaultProductName[];

// The document's bytes as kept in the project.
std::string DefaultPeripheralDocument();
// The document with its "platform" / "productName" replaced by productName,
// written indented. Throws std::runtime_error when productName is not UTF-8.
std::string DefaultPeripheralDocument(const std::string& productName);

}  // namespace sim

#endif
