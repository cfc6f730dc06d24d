#include "sim/snapshot.h"

#include "sim/file_digest.h"

#include <fstream>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace sim {
namespace {

void Record(const fs::path& device, const std::string& part, DeviceSnapshot& snapshot) {
    const fs::path top = device / part;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(top, ec)))
        return;
    fs::recursive_directory_iterator it(top, fs::directory_options::none, ec);
    if (ec)
        throw std::runtime_error("cannot read " + top.string() + ": " + ec.message());
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            throw std::runtime_error("cannot read " + top.string() + ": " + ec.message());
        const fs::file_status status = it->symlink_status();
        std::string rel = part + "/" + it->path().lexically_relative(top).generic_string();
        SnapshotEntry entry;
        if (fs::is_directory(status)) {
            entry.kind = SnapshotEntry::kFolder;
            rel += "/";
        } else if (fs::is_regular_file(status)) {
            entry.kind = SnapshotEntry::kFile;
            entry.size = it->file_size();
            entry.digest = FileMd5Hex(it->path());
        }
        snapshot[rel] = entry;
    }
    if (ec)
        throw std::runtime_error("cannot read " + top.string() + ": " + ec.message());
}

std::string Bytes(uintmax_t size) {
    return std::to_string(size) + " bytes";
}

}  // namespace

DeviceSnapshot TakeSnapshot(const fs::path& device) {
    DeviceSnapshot snapshot;
    Record(device, "fs", snapshot);
    Record(device, "hw", snapshot);
    return snapshot;
}

std::vector<SnapshotChange> CompareSnapshots(const DeviceSnapshot& before,
                                             const DeviceSnapshot& after) {
    std::vector<SnapshotChange> changes;
    auto b = before.begin();
    auto a = after.begin();
    while (b != before.end() || a != after.end()) {
        if (a == after.end() || (b != before.end() && b->first < a->first)) {
            changes.push_back({SnapshotChange::kRemoved, b->first, ""});
            ++b;
        } else if (b == before.end() || a->first < b->first) {
            const std::string detail =
                a->second.kind == SnapshotEntry::kFile ? Bytes(a->second.size) : "";
            changes.push_back({SnapshotChange::kAdded, a->first, detail});
            ++a;
        } else {
            const SnapshotEntry& was = b->second;
            const SnapshotEntry& is = a->second;
            if (was.kind != is.kind || was.size != is.size || was.digest != is.digest) {
                std::string detail;
                if (was.kind == SnapshotEntry::kFile && is.kind == SnapshotEntry::kFile) {
                    detail = was.size == is.size ? Bytes(is.size) + ", new contents"
                                                 : Bytes(was.size) + " -> " + Bytes(is.size);
                }
                changes.push_back({SnapshotChange::kChanged, a->first, detail});
            }
            ++a;
            ++b;
        }
    }
    return changes;
}

const char* ChangeKindName(SnapshotChange::Kind kind) {
    switch (kind) {
        case SnapshotChange::kAdded:
            return "added";
        case SnapshotChange::kRemoved:
            return "removed";
        case SnapshotChange::kChanged:
            return "changed";
    }
    return "?";
}

}  // namespace sim
