#include "sim/snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <istream>
#include <stdexcept>

#include "platform/host/fd_file_buffer.h"
#include "platform/host/safe_files.h"
#include "sim/file_digest.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

using platform::host::UniqueFd;

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
            // Read without following anything below DEVICE; what stopped being a
            // regular file in the meantime is recorded as something else.
            UniqueFd fd(platform::host::OpenFileBelow(device.string(), rel, O_RDONLY));
            struct stat st;
            if (fd.Valid() && fstat(fd.Get(), &st) == 0) {
                platform::host::FdFileBuffer buffer(fd.Release(), true, false);
                std::istream in(&buffer);
                entry.kind = SnapshotEntry::kFile;
                entry.size = static_cast<uintmax_t>(st.st_size);
                entry.digest = StreamMd5Hex(in, it->path().string());
            }
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
