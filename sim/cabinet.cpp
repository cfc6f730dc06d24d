#include "sim/cabinet.h"

#include <libgcab.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace sim {
namespace {

// Owners for the GLib objects, so that every path out releases them.
struct ObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            g_object_unref(object);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, ObjectUnref>;

struct ErrorFree {
    void operator()(GError* error) const {
        if (error)
            g_error_free(error);
    }
};

std::string Describe(const GError* error) {
    return error && error->message ? error->message : "unknown error";
}

// Writes one MSZIP folder holding files, in their order, to cabFile.
void WriteFolder(const std::vector<GObjectPtr<GCabFile>>& files, const fs::path& cabFile) {
    GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
    GObjectPtr<GCabFolder> folder(gcab_folder_new(GCAB_COMPRESSION_MSZIP));
    GError* raw = nullptr;
    for (const GObjectPtr<GCabFile>& file : files) {
        if (!gcab_folder_add_file(folder.get(), file.get(), FALSE, nullptr, &raw)) {
            std::unique_ptr<GError, ErrorFree> error(raw);
            throw std::runtime_error(std::string("cannot add '") + gcab_file_get_name(file.get()) +
                                     "' to the cabinet: " + Describe(raw));
        }
    }
    if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), &raw)) {
        std::unique_ptr<GError, ErrorFree> error(raw);
        throw std::runtime_error("cannot make the cabinet: " + Describe(raw));
    }
    GObjectPtr<GFile> target(g_file_new_for_path(cabFile.c_str()));
    GObjectPtr<GFileOutputStream> out(
        g_file_replace(target.get(), nullptr, FALSE, G_FILE_CREATE_NONE, nullptr, &raw));
    if (!out) {
        std::unique_ptr<GError, ErrorFree> error(raw);
        throw std::runtime_error("cannot write " + cabFile.string() + ": " + Describe(raw));
    }
    const bool written = gcab_cabinet_write_simple(cabinet.get(), G_OUTPUT_STREAM(out.get()),
                                                   nullptr, nullptr, nullptr, &raw);
    std::unique_ptr<GError, ErrorFree> writeError(raw);
    raw = nullptr;
    const bool closed = g_output_stream_close(G_OUTPUT_STREAM(out.get()), nullptr, &raw);
    std::unique_ptr<GError, ErrorFree> closeError(raw);
    if (!written || !closed) {
        throw std::runtime_error("cannot write " + cabFile.string() + ": " +
                                 Describe(written ? closeError.get() : writeError.get()));
    }
}

// ---- reading -------------------------------------------------------------
//
// The cabinet format, little-endian:
//   header   "MSCF", reserved u32, cbCabinet u32 (the file's size), reserved
//            u32, coffFiles u32, reserved u32, version minor u8 and major u8,
//            cFolders u16, cFiles u16, flags u16 (1 a previous cabinet, 2 a
//            next one, 4 reserve sizes present), setID u16, iCabinet u16;
//            with flag 4: cbCFHeader u16, cbCFFolder u8, cbCFData u8 and
//            cbCFHeader reserved bytes; with flag 1 or 2 the names of the
//            previous or next cabinet and disk (NUL-terminated each)
//   folders  cFolders times: coffCabStart u32 (its first data block),
//            cCFData u16, typeCompress u16 (low 4 bits: 0 none, 1 MSZIP,
//            2 Quantum, 3 LZX), cbCFFolder reserved bytes
//   files    at coffFiles, cFiles times: cbFile u32, uoffFolderStart u32,
//            iFolder u16 (0xFFFD..0xFFFF: continued in another cabinet),
//            date u16, time u16, attribs u16, NUL-terminated name
//   data     per folder, cCFData blocks: csum u32, cbData u16, cbUncomp u16,
//            cbCFData reserved bytes, cbData bytes
// A block's csum is 0 when the writer supplied none; otherwise it is the
// cabinet checksum of its data, then of its cbData and cbUncomp fields. An
// MSZIP block is "CK" and a deflate stream that yields cbUncomp (at most
// 32768) bytes; the history it may refer back into is the folder's last
// 32768 bytes, across as many blocks as that spans. Folders of no
// compression and MSZIP are decoded here, with zlib; Quantum and LZX
// folders are left to libgcab, which needs every checksum present.

const uint32_t kHeaderSize = 36;
const uint32_t kFolderSize = 8;
const uint32_t kFileSize = 16;
const uint32_t kDataSize = 8;
const uint16_t kFlagPrevious = 1;
const uint16_t kFlagNext = 2;
const uint16_t kFlagReserve = 4;
const uint16_t kCompressionNone = 0;
const uint16_t kCompressionMszip = 1;
const uint32_t kMszipBlock = 32768;
const uint16_t kFirstContinuedFolder = 0xFFFD;

// Bounds-checked little-endian reads of the whole cabinet.
class Bytes {
  public:
    explicit Bytes(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Has(uint64_t at, uint64_t count) const {
        return at <= bytes_.size() && count <= bytes_.size() - at;
    }
    uint8_t U8(uint64_t at) const { return bytes_[size_t(at)]; }
    uint16_t U16(uint64_t at) const { return uint16_t(U8(at) | (U8(at + 1) << 8)); }
    uint32_t U32(uint64_t at) const { return uint32_t(U16(at)) | (uint32_t(U16(at + 2)) << 16); }
    const uint8_t* At(uint64_t at) const { return bytes_.data() + at; }
    // The NUL-terminated text at at; false when it runs past the end.
    bool Text(uint64_t at, std::string& text, uint64_t& next) const {
        for (uint64_t end = at; end < bytes_.size(); ++end) {
            if (bytes_[size_t(end)] == 0) {
                text.assign(reinterpret_cast<const char*>(At(at)), size_t(end - at));
                next = end + 1;
                return true;
            }
        }
        return false;
    }

  private:
    const std::vector<uint8_t>& bytes_;
};

// The cabinet checksum: size bytes taken as little-endian 32-bit words, XORed
// into seed; the one to three bytes left over form one more word, the first
// of them highest.
uint32_t CabinetChecksum(const uint8_t* data, size_t size, uint32_t seed) {
    uint32_t sum = seed;
    size_t i = 0;
    for (; i + 4 <= size; i += 4)
        sum ^= uint32_t(data[i]) | (uint32_t(data[i + 1]) << 8) | (uint32_t(data[i + 2]) << 16) |
               (uint32_t(data[i + 3]) << 24);
    uint32_t rest = 0;
    for (; i < size; ++i)
        rest = (rest << 8) | data[i];
    return sum ^ rest;
}

uint32_t DataBlockChecksum(const uint8_t* data, uint16_t cbData, uint16_t cbUncomp) {
    const uint8_t fields[4] = {uint8_t(cbData), uint8_t(cbData >> 8), uint8_t(cbUncomp),
                               uint8_t(cbUncomp >> 8)};
    return CabinetChecksum(fields, 4, CabinetChecksum(data, cbData, 0));
}

struct FolderEntry {
    uint32_t firstBlock = 0;
    uint16_t blocks = 0;
    uint16_t compression = 0;
};

struct FileEntry {
    std::string name;
    uint32_t size = 0;
    uint32_t offset = 0;
    uint16_t folder = 0;
};

// One MSZIP block into out (which holds the folder's data so far).
bool InflateBlock(const uint8_t* data, uint16_t size, uint16_t expected, std::vector<uint8_t>& out,
                  std::string& error) {
    if (size < 2 || data[0] != 'C' || data[1] != 'K') {
        error = "an MSZIP block does not start with \"CK\"";
        return false;
    }
    if (expected > kMszipBlock) {
        error = "an MSZIP block holds more than 32768 bytes";
        return false;
    }
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        error = "zlib cannot start";
        return false;
    }
    const size_t history = std::min<size_t>(out.size(), kMszipBlock);
    bool ok = history == 0 || inflateSetDictionary(&stream, out.data() + out.size() - history,
                                                   uInt(history)) == Z_OK;
    const size_t at = out.size();
    // One byte more than expected shows a block that yields too much.
    out.resize(at + expected + 1);
    stream.next_in = const_cast<Bytef*>(data + 2);
    stream.avail_in = size - 2;
    stream.next_out = out.data() + at;
    stream.avail_out = expected + 1;
    const int result = ok ? inflate(&stream, Z_FINISH) : Z_DATA_ERROR;
    const size_t produced = expected + 1 - stream.avail_out;
    inflateEnd(&stream);
    out.resize(at + produced);
    // A stream may end with its last deflate block or simply with its data.
    ok = ok && produced == expected &&
         (result == Z_STREAM_END ||
          ((result == Z_OK || result == Z_BUF_ERROR) && stream.avail_in == 0));
    if (!ok)
        error = "an MSZIP block does not decode to its " + std::to_string(expected) + " bytes";
    return ok;
}

// Checks every data block of a folder and, for the compressions decoded
// here, appends its data to out. False with error when a block is damaged.
bool ReadFolder(const Bytes& cab, const FolderEntry& folder, uint8_t dataReserve, bool decode,
                std::vector<uint8_t>& out, std::string& error) {
    uint64_t at = folder.firstBlock;
    for (uint32_t i = 0; i < folder.blocks; ++i) {
        if (!cab.Has(at, kDataSize + dataReserve)) {
            error = "data block " + std::to_string(i) + " lies past the end of the cabinet";
            return false;
        }
        const uint32_t checksum = cab.U32(at);
        const uint16_t cbData = cab.U16(at + 4);
        const uint16_t cbUncomp = cab.U16(at + 6);
        const uint64_t data = at + kDataSize + dataReserve;
        if (!cab.Has(data, cbData)) {
            error = "data block " + std::to_string(i) + " lies past the end of the cabinet";
            return false;
        }
        if (checksum != 0 && checksum != DataBlockChecksum(cab.At(data), cbData, cbUncomp)) {
            error = "data block " + std::to_string(i) + " fails its checksum";
            return false;
        }
        if (cbUncomp == 0) {
            error = "data block " + std::to_string(i) + " continues in another cabinet";
            return false;
        }
        if (decode && folder.compression == kCompressionNone) {
            if (cbData != cbUncomp) {
                error = "an uncompressed data block's sizes differ";
                return false;
            }
            out.insert(out.end(), cab.At(data), cab.At(data) + cbData);
        } else if (decode && !InflateBlock(cab.At(data), cbData, cbUncomp, out, error)) {
            error = "data block " + std::to_string(i) + ": " + error;
            return false;
        }
        at = data + cbData;
    }
    return true;
}

// A copy of the cabinet with every missing checksum filled in, for libgcab.
std::vector<uint8_t> WithChecksums(const std::vector<uint8_t>& bytes,
                                   const std::vector<FolderEntry>& folders, uint8_t dataReserve) {
    std::vector<uint8_t> copy(bytes);
    const Bytes cab(bytes);
    for (const FolderEntry& folder : folders) {
        uint64_t at = folder.firstBlock;
        for (uint32_t i = 0; i < folder.blocks; ++i) {
            const uint16_t cbData = cab.U16(at + 4);
            const uint64_t data = at + kDataSize + dataReserve;
            if (cab.U32(at) == 0) {
                const uint32_t sum = DataBlockChecksum(cab.At(data), cbData, cab.U16(at + 6));
                for (int b = 0; b < 4; ++b)
                    copy[size_t(at) + b] = uint8_t(sum >> (8 * b));
            }
            at = data + cbData;
        }
    }
    return copy;
}

// Reads a cabinet whose folders this file does not decode itself through
// libgcab, which checks every checksum while it extracts.
bool ReadWithLibgcab(const std::vector<uint8_t>& bytes, std::vector<CabinetEntry>& entries,
                     std::string& error) {
    entries.clear();
    GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
    GObjectPtr<GInputStream> in(g_memory_input_stream_new_from_data(
        bytes.data(), static_cast<gssize>(bytes.size()), nullptr));
    GError* raw = nullptr;
    if (!gcab_cabinet_load(cabinet.get(), in.get(), nullptr, &raw)) {
        std::unique_ptr<GError, ErrorFree> owned(raw);
        error = "not a cabinet: " + Describe(raw);
        return false;
    }
    // Extracting to memory decodes every data block and checks its checksum.
    if (!gcab_cabinet_extract(cabinet.get(), nullptr, nullptr, nullptr, nullptr, nullptr, &raw)) {
        std::unique_ptr<GError, ErrorFree> owned(raw);
        error = "cannot extract the cabinet: " + Describe(raw);
        return false;
    }
    GPtrArray* folders = gcab_cabinet_get_folders(cabinet.get());
    for (guint i = 0; folders && i < folders->len; ++i) {
        GCabFolder* folder = GCAB_FOLDER(g_ptr_array_index(folders, i));
        GSList* files = gcab_folder_get_files(folder);
        bool ok = true;
        for (GSList* node = files; node && ok; node = node->next) {
            GCabFile* file = GCAB_FILE(node->data);
            const char* name = gcab_file_get_name(file);
            GBytes* data = gcab_file_get_bytes(file);
            gsize size = 0;
            const uint8_t* contents =
                data ? static_cast<const uint8_t*>(g_bytes_get_data(data, &size)) : nullptr;
            if (!name || !data || size != gcab_file_get_size(file)) {
                error = std::string("cabinet file '") + (name ? name : "") + "' is incomplete";
                ok = false;
                break;
            }
            CabinetEntry entry;
            entry.name = name;
            entry.data.assign(contents, contents + size);
            entries.push_back(std::move(entry));
        }
        g_slist_free(files);
        if (!ok) {
            entries.clear();
            return false;
        }
    }
    return true;
}

}  // namespace

void WriteCabinet(const std::vector<CabinetEntry>& entries, const fs::path& cabFile) {
    std::vector<GObjectPtr<GCabFile>> files;
    GDateTime* now = g_date_time_new_now_utc();
    for (const CabinetEntry& entry : entries) {
        GBytes* bytes = g_bytes_new(entry.data.data(), entry.data.size());
        files.emplace_back(gcab_file_new_with_bytes(entry.name.c_str(), bytes));
        g_bytes_unref(bytes);
        gcab_file_set_date_time(files.back().get(), now);
        gcab_file_set_attributes(files.back().get(), GCAB_FILE_ATTRIBUTE_ARCH);
    }
    g_date_time_unref(now);
    WriteFolder(files, cabFile);
}

void WriteCabinetFromDirectory(const fs::path& dir, const fs::path& cabFile) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        throw std::runtime_error("'" + dir.string() + "' is not a folder");
    std::vector<std::pair<std::string, fs::path>> found;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        if (entry.is_symlink(ec)) {
            throw std::runtime_error("'" + entry.path().string() + "' is a symbolic link");
        }
        if (entry.is_directory(ec))
            continue;
        if (!entry.is_regular_file(ec)) {
            throw std::runtime_error("'" + entry.path().string() + "' is not a regular file");
        }
        std::string name = entry.path().lexically_relative(dir).generic_string();
        std::replace(name.begin(), name.end(), '/', '\\');
        found.emplace_back(name, entry.path());
    }
    if (ec)
        throw std::runtime_error("cannot list " + dir.string() + ": " + ec.message());
    if (found.empty())
        throw std::runtime_error("'" + dir.string() + "' holds no files");
    std::sort(found.begin(), found.end());
    std::vector<GObjectPtr<GCabFile>> files;
    for (const auto& [name, path] : found) {
        GObjectPtr<GFile> source(g_file_new_for_path(path.c_str()));
        files.emplace_back(gcab_file_new_with_file(name.c_str(), source.get()));
    }
    WriteFolder(files, cabFile);
}

bool ReadCabinet(const std::vector<uint8_t>& bytes, std::vector<CabinetEntry>& entries,
                 std::string& error) {
    entries.clear();
    const Bytes cab(bytes);
    if (bytes.empty()) {
        error = "the file is empty";
        return false;
    }
    if (!cab.Has(0, kHeaderSize) || std::memcmp(cab.At(0), "MSCF", 4) != 0) {
        error = "not a cabinet: no \"MSCF\" header";
        return false;
    }
    const uint32_t stated = cab.U32(8);
    if (stated != bytes.size()) {
        error = "the cabinet states " + std::to_string(stated) + " bytes but the file holds " +
                std::to_string(bytes.size());
        return false;
    }
    const uint32_t filesAt = cab.U32(16);
    const uint16_t folderCount = cab.U16(26);
    const uint16_t fileCount = cab.U16(28);
    const uint16_t flags = cab.U16(30);
    uint64_t at = kHeaderSize;
    uint8_t folderReserve = 0;
    uint8_t dataReserve = 0;
    if (flags & kFlagReserve) {
        if (!cab.Has(at, 4)) {
            error = "the header's reserve sizes are cut off";
            return false;
        }
        const uint16_t headerReserve = cab.U16(at);
        folderReserve = cab.U8(at + 2);
        dataReserve = cab.U8(at + 3);
        at += 4 + uint64_t(headerReserve);
    }
    for (uint16_t flag : {kFlagPrevious, kFlagNext}) {
        std::string cabinetName;
        std::string diskName;
        if ((flags & flag) && (!cab.Text(at, cabinetName, at) || !cab.Text(at, diskName, at))) {
            error = "the names of the neighbouring cabinets are cut off";
            return false;
        }
    }

    std::vector<FolderEntry> folders(folderCount);
    for (FolderEntry& folder : folders) {
        if (!cab.Has(at, kFolderSize + folderReserve)) {
            error = "the folder entries are cut off";
            return false;
        }
        folder.firstBlock = cab.U32(at);
        folder.blocks = cab.U16(at + 4);
        folder.compression = cab.U16(at + 6) & 0x000F;
        at += kFolderSize + folderReserve;
    }
    std::vector<FileEntry> files(fileCount);
    at = filesAt;
    for (FileEntry& file : files) {
        const uint64_t entry = at;
        if (!cab.Has(entry, kFileSize) || !cab.Text(entry + kFileSize, file.name, at)) {
            error = "the file entries are cut off";
            return false;
        }
        file.size = cab.U32(entry);
        file.offset = cab.U32(entry + 4);
        file.folder = cab.U16(entry + 8);
        if (file.folder >= kFirstContinuedFolder) {
            error = "cabinet file '" + file.name + "' continues in another cabinet";
            return false;
        }
        if (file.folder >= folders.size()) {
            error = "cabinet file '" + file.name + "' names a folder the cabinet does not have";
            return false;
        }
    }

    const bool decodesAll = std::all_of(folders.begin(), folders.end(), [](const FolderEntry& f) {
        return f.compression == kCompressionNone || f.compression == kCompressionMszip;
    });
    std::vector<std::vector<uint8_t>> data(folders.size());
    for (size_t i = 0; i < folders.size(); ++i) {
        if (!ReadFolder(cab, folders[i], dataReserve, decodesAll, data[i], error)) {
            error = "folder " + std::to_string(i) + ": " + error;
            return false;
        }
    }
    if (!decodesAll)
        return ReadWithLibgcab(WithChecksums(bytes, folders, dataReserve), entries, error);

    for (const FileEntry& file : files) {
        const std::vector<uint8_t>& folder = data[file.folder];
        if (file.offset > folder.size() || file.size > folder.size() - file.offset) {
            error = "cabinet file '" + file.name + "' is incomplete";
            entries.clear();
            return false;
        }
        CabinetEntry entry;
        entry.name = file.name;
        entry.data.assign(folder.begin() + file.offset, folder.begin() + file.offset + file.size);
        entries.push_back(std::move(entry));
    }
    return true;
}

}  // namespace sim
