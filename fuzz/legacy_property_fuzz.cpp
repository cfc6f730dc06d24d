// The legacy property file: the input is the text of /Store/Properties.ini,
// read once as it is (its last two bytes taken for the CRC) and once behind
// the CRC it needs, so that its lines are parsed into entries and into the
// main archive. Saves are held for good, so nothing is written back.
#include <memory>
#include <vector>

#include "fileutil/crc16.h"
#include "properties/property_file_store.h"
#include "runtime/thread_factory.h"
#include "support/fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never destroyed: its savers would wait for the held saves.
    static PropertyFileStore* store = [] {
        PropertyFileStore* made =
            new PropertyFileStore(std::make_shared<ThreadFactory>(253), 253,
                                  u"/Store/Properties.ini", u"/Store/PropertiesOverride.ini");
        made->MainArchive().HoldSaves();
        return made;
    }();
    LegacyEntries entries;
    store->MainArchive().Reset();
    fuzz::WriteDeviceFile("fs/store/Properties.ini", data, size);
    store->ReadLegacyFile(u"/Store/Properties.ini", entries);

    const uint16_t crc = Crc16::Compute(data, size);
    std::vector<uint8_t> file(data, data + size);
    file.push_back(static_cast<uint8_t>(crc & 0xFF));
    file.push_back(static_cast<uint8_t>(crc >> 8));
    entries.clear();
    store->MainArchive().Reset();
    fuzz::WriteDeviceFile("fs/store/Properties.ini", file.data(), file.size());
    store->ReadLegacyFile(u"/Store/Properties.ini", entries);
    return 0;
}
