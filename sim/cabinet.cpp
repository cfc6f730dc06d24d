#include "sim/cabinet.h"

#include <libgcab.h>

#include <algorithm>
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
    if (bytes.empty()) {
        error = "the file is empty";
        return false;
    }
    GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
    GObjectPtr<GInputStream> in(g_memory_input_stream_new_from_data(
        bytes.data(), static_cast<gssize>(bytes.size()), nullptr));
    GError* raw = nullptr;
    if (!gcab_cabinet_load(cabinet.get(), in.get(), nullptr, &raw)) {
        std::unique_ptr<GError, ErrorFree> owned(raw);
        error = "not a cabinet: " + Describe(raw);
        return false;
    }
    const uint32_t stated = gcab_cabinet_get_size(cabinet.get());
    if (stated != bytes.size()) {
        error = "the cabinet states " + std::to_string(stated) + " bytes but the file holds " +
                std::to_string(bytes.size());
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

}  // namespace sim
