// The property archive: the input is the archive file /Store/Fuzz.json, with a
// sidecar holding its digest, loaded as at start-up (the in-memory parse of the
// verified file) and again from the file as a stream; what loaded is then
// looked up and merged, as an override archive is, into an archive of two
// entries. Saves are held for good, so nothing is written back.
#include <memory>
#include <string>

#include "properties/archive_files.h"
#include "properties/json_property_archiver.h"
#include "properties/string_property.h"
#include "runtime/thread_factory.h"
#include "support/fuzz_device.h"

namespace {

struct Archives {
    Archives()
        : factory(std::make_shared<ThreadFactory>(253)),
          loaded(new JsonPropertyArchiver(u"/Store/Fuzz.json", factory, 253)),
          merged(new JsonPropertyArchiver(u"/Store/Merged.json", factory, 253)),
          property(std::make_shared<StringProperty>("", "Id", "Name", "Group", "GroupName")) {
        const char available[] = "67108864";
        fuzz::WriteDeviceFile("hw/avail-phys", reinterpret_cast<const uint8_t*>(available),
                              sizeof(available) - 1);
        loaded->HoldSaves();
        merged->HoldSaves();
    }
    std::shared_ptr<ThreadFactory> factory;
    // Never destroyed: their savers would wait for the held saves.
    JsonPropertyArchiver* loaded;
    JsonPropertyArchiver* merged;
    std::shared_ptr<StringProperty> property;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Archives archives;
    const NString digest = ArchiveFiles::DigestOf(data, size);
    fuzz::WriteDeviceFile("fs/store/Fuzz.json", data, size);
    fuzz::WriteDeviceFile("fs/store/Fuzz.json.MD5", reinterpret_cast<const uint8_t*>(digest.data()),
                          digest.size());
    JsonPropertyArchiver& loaded = *archives.loaded;
    loaded.Reset();
    loaded.Load();
    loaded.Reset();
    loaded.LoadFile(u"/Store/Fuzz.json");
    NString value;
    loaded.GetPropertyValue(archives.property, value);
    JsonPropertyArchiver& merged = *archives.merged;
    merged.Reset();
    merged.AddEntry("Id", "Group", "GroupName", "Name", "value");
    merged.AddEntry("Other", "Group", "GroupName", "Other name", "other value");
    merged.MergeFrom(loaded);
    return 0;
}
