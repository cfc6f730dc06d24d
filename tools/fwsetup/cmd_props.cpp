// fwsetup props: the printer's property archives.
//
//   dump FILE [--json]   an archive file as the module reads it: the header, the
//                        length check, the JSON document, each entry as a row.
//                        Exit 0 when FILE could be read, whatever the load gave;
//                        2 when it could not (with --json: {"error": "..."}).
//   verify FILE          FILE against FILE.MD5 as the module checks it when it
//                        loads the archive: exit 0 when it passes, 1 when not
//                        (no sidecar included), 2 when FILE is not a readable file.
//   show --device DEVICE [--json]
//                        the printer's property files as they stand (legacy file,
//                        override, main archive), and what the module's start-up
//                        load makes of them: whether the legacy file is migrated,
//                        the backup used, the override merged, and every entry of
//                        the main archive afterwards. Read on a copy: the printer
//                        does not change.
//   legacy make IN.txt OUT
//                        OUT = IN followed by its CRC-16/MAXIM-DOW, low byte first:
//                        a legacy property file.
//   legacy check FILE    a legacy property file as the module reads it: its CRC and
//                        every entry it gives; exit 0 when it reads whole, 1 when not.
//
// Files a command writes go to a temporary file beside the output, which is
// renamed into place once complete. An output that is an input (the same file,
// whatever its name) or that exists and is not a regular file is refused.
//
// Machine-readable output is one JSON document on stdout, built with RapidJSON.
// Texts from the archive that are not valid UTF-8 are written with U+FFFD in
// place of each bad byte, so that the output is always valid JSON.
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "app.h"
#include "fileutil/crc16.h"
#include "fileutil/md5.h"
#include "output_file.h"
#include "package/memory_stream.h"
#include "properties/json_document.h"
#include "properties/property_file_store.h"
#include "runtime/thread_factory.h"
#include "sim/property_files.h"
#include "sim/staging_device.h"
#include "sim/text_table.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

const char* const kEntryMembers[] = {"Name", "NameString", "Group", "GroupString", "Value"};

// ---- JSON output -------------------------------------------------------------

template <typename Writer>
void WriteString(Writer& writer, const std::string& text) {
    const std::string valid = sim::ValidUtf8(text);
    writer.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

// A value of a document the module loaded (so nested at most 64 levels deep).
template <typename Writer>
void WriteValue(Writer& writer, const rapidjson::Value& value) {
    if (value.IsObject()) {
        writer.StartObject();
        for (auto member = value.MemberBegin(); member != value.MemberEnd(); ++member) {
            const std::string key = sim::ValidUtf8(
                std::string(member->name.GetString(), member->name.GetStringLength()));
            writer.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
            WriteValue(writer, member->value);
        }
        writer.EndObject();
    } else if (value.IsArray()) {
        writer.StartArray();
        for (auto element = value.Begin(); element != value.End(); ++element)
            WriteValue(writer, *element);
        writer.EndArray();
    } else if (value.IsString()) {
        WriteString(writer, std::string(value.GetString(), value.GetStringLength()));
    } else {
        value.Accept(writer);  // a scalar
    }
}

void PrintJsonError(const std::string& message) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("error");
    WriteString(writer, message);
    writer.EndObject();
    std::cout << buffer.GetString() << "\n";
}

// Runs a command body; with json, a usage error is also printed as {"error": ...}.
template <typename Body>
void RunCommand(bool json, CommandContext& ctx, Body body) {
    try {
        body();
    } catch (const UsageError& e) {
        if (!json)
            throw;
        std::cerr << "fwsetup: " << e.what() << "\n";
        PrintJsonError(e.what());
        ctx.exitCode = kExitUsage;
    }
}

// ---- reading archive files ---------------------------------------------------

void RequireFile(const std::string& file) {
    std::error_code ec;
    if (file.empty() || !fs::is_regular_file(file, ec))
        throw UsageError("no file '" + file + "'");
}

std::string ReadHostFile(const fs::path& path, uintmax_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw UsageError("cannot read '" + path.string() + "'");
    std::string bytes(static_cast<size_t>(limit), '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(limit));
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (in.bad())
        throw UsageError("cannot read '" + path.string() + "'");
    return bytes;
}

std::string Hex(const std::string& bytes) {
    std::ostringstream out;
    for (unsigned char c : bytes)
        out << std::hex << std::setw(2) << std::setfill('0') << int(c);
    return out.str();
}

// What dump finds in an archive file.
struct ArchiveDump {
    uintmax_t size = 0;
    std::string header;  // the first 16 bytes (fewer when the file is shorter)
    bool headerIsArchiveHeader = false;
    bool hasLength = false;
    uint32_t length = 0;
    uint32_t loadLimit = 0;
    bool lengthOk = false;
    std::string lengthCheck;  // what the length check found, in words
    uintmax_t trailingBytes = 0;
    bool loaded = false;
    std::string loadError;  // why the module's load failed, when the length passed
    std::unique_ptr<JsonDocument> document;
};

// Why a text the module did not load is refused: parsed again here,
// iteratively, so that no nesting depth can exhaust the stack.
std::string WhyNotLoaded(const std::string& text) {
    rapidjson::Document parsed;
    parsed.Parse<rapidjson::kParseIterativeFlag>(text.c_str());
    if (parsed.HasParseError()) {
        return std::string("not JSON: ") + rapidjson::GetParseError_En(parsed.GetParseError()) +
               " (at byte " + std::to_string(parsed.GetErrorOffset()) + " of the text)";
    }
    if (!parsed.IsObject())
        return "the root is not an object";
    if (JsonDocument::NestingDepth(parsed) > JsonDocument::kMaxNesting)
        return "nested deeper than " + std::to_string(JsonDocument::kMaxNesting) + " levels";
    return "refused by the module";
}

ArchiveDump DumpArchive(const fs::path& file) {
    ArchiveDump dump;
    std::error_code ec;
    dump.size = fs::file_size(file, ec);
    if (ec)
        throw UsageError("cannot read '" + file.string() + "'");
    const uint32_t prefix = JsonDocument::kHeaderSize + JsonDocument::kLengthSize;
    const std::string head = ReadHostFile(file, prefix);
    dump.header = head.substr(0, JsonDocument::kHeaderSize);
    JsonDocument reference;
    dump.headerIsArchiveHeader =
        dump.header == std::string(reinterpret_cast<const char*>(reference.HeaderBytes()),
                                   JsonDocument::kHeaderSize);
    dump.loadLimit = JsonDocument::LoadLimit();
    if (head.size() < JsonDocument::kHeaderSize) {
        dump.lengthCheck = "the file is shorter than the 16 header bytes";
        return dump;
    }
    if (head.size() < prefix) {
        dump.lengthCheck = "the file ends inside the length field";
        return dump;
    }
    dump.hasLength = true;
    for (int i = 0; i < 4; ++i)
        dump.length |= uint32_t(uint8_t(head[JsonDocument::kHeaderSize + i])) << (8 * i);
    const uintmax_t after = dump.size - prefix;
    if (dump.length == 0) {
        dump.lengthCheck = "the length is 0";
    } else if (dump.length > dump.loadLimit) {
        dump.lengthCheck = "the length is above the load limit of " +
                           std::to_string(dump.loadLimit) +
                           " bytes (a quarter of the available memory)";
    } else if (dump.length > after) {
        dump.lengthCheck = "the length is past the end: " + std::to_string(after) +
                           " bytes follow the length field";
    } else {
        dump.lengthOk = true;
        dump.trailingBytes = after - dump.length;
        dump.lengthCheck = dump.trailingBytes == 0
                               ? "the text fills the rest of the file"
                               : std::to_string(dump.trailingBytes) +
                                     " bytes after the text, which a load ignores";
    }
    if (!dump.lengthOk)
        return dump;
    const std::string image = ReadHostFile(file, prefix + uintmax_t(dump.length));
    dump.document.reset(new JsonDocument);
    MemoryStream stream(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    dump.loaded = dump.document->LoadFromStream(stream);
    if (!dump.loaded) {
        dump.loadError = WhyNotLoaded(image.substr(prefix));
        dump.document.reset();
    }
    return dump;
}

// The "Properties" elements of a loaded document (null when there is no such array).
const rapidjson::Value* EntriesOf(const ArchiveDump& dump) {
    if (!dump.document)
        return nullptr;
    const rapidjson::Value& root = dump.document->GetDocument();
    const auto entries = root.FindMember("Properties");
    if (entries == root.MemberEnd() || !entries->value.IsArray())
        return nullptr;
    return &entries->value;
}

// One cell of an entry row: the member as text, or null when it is missing or no string.
std::optional<std::string> EntryCell(const rapidjson::Value& entry, const char* member) {
    if (!entry.IsObject())
        return std::nullopt;
    const auto found = entry.FindMember(member);
    if (found == entry.MemberEnd() || !found->value.IsString())
        return std::nullopt;
    return std::string(found->value.GetString(), found->value.GetStringLength());
}

void PrintDumpJson(const fs::path& file, const ArchiveDump& dump) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("file");
    WriteString(writer, file.string());
    writer.Key("size");
    writer.Uint64(dump.size);
    writer.Key("header");
    WriteString(writer, Hex(dump.header));
    writer.Key("headerIsArchiveHeader");
    writer.Bool(dump.headerIsArchiveHeader);
    writer.Key("length");
    if (dump.hasLength)
        writer.Uint(dump.length);
    else
        writer.Null();
    writer.Key("loadLimit");
    writer.Uint(dump.loadLimit);
    writer.Key("lengthOk");
    writer.Bool(dump.lengthOk);
    writer.Key("lengthCheck");
    WriteString(writer, dump.lengthCheck);
    writer.Key("trailingBytes");
    writer.Uint64(dump.trailingBytes);
    writer.Key("loaded");
    writer.Bool(dump.loaded);
    writer.Key("loadError");
    if (dump.loadError.empty())
        writer.Null();
    else
        WriteString(writer, dump.loadError);
    writer.Key("document");
    if (dump.document)
        WriteValue(writer, dump.document->GetDocument());
    else
        writer.Null();
    writer.Key("entries");
    writer.StartArray();
    if (const rapidjson::Value* entries = EntriesOf(dump)) {
        for (auto entry = entries->Begin(); entry != entries->End(); ++entry) {
            writer.StartObject();
            writer.Key("isObject");
            writer.Bool(entry->IsObject());
            for (const char* member : kEntryMembers) {
                writer.Key(member);
                const std::optional<std::string> cell = EntryCell(*entry, member);
                if (cell)
                    WriteString(writer, *cell);
                else
                    writer.Null();
            }
            writer.EndObject();
        }
    }
    writer.EndArray();
    writer.EndObject();
    std::cout << buffer.GetString() << "\n";
}

void PrintDumpText(const fs::path& file, const ArchiveDump& dump) {
    std::cout << "file      " << file.string() << " (" << dump.size << " bytes)\n";
    std::cout << "header    " << Hex(dump.header)
              << (dump.headerIsArchiveHeader ? " (the archive header)"
                                             : " (not the archive header; a load skips it)")
              << "\n";
    std::cout << "length    ";
    if (dump.hasLength)
        std::cout << dump.length << ": ";
    std::cout << dump.lengthCheck << "\n";
    std::cout << "json      "
              << (dump.loaded     ? "loaded"
                  : dump.lengthOk ? "not loaded: " + dump.loadError
                                  : std::string("not loaded: the length check failed"))
              << "\n";
    if (!dump.document)
        return;
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    WriteValue(writer, dump.document->GetDocument());
    std::cout << "document\n" << buffer.GetString() << "\n";
    const rapidjson::Value* entries = EntriesOf(dump);
    if (!entries) {
        std::cout << "entries   none (no \"Properties\" array)\n";
        return;
    }
    std::cout << "entries   " << entries->Size() << "\n";
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"#", "Name", "NameString", "Group", "GroupString", "Value"});
    size_t index = 0;
    for (auto entry = entries->Begin(); entry != entries->End(); ++entry, ++index) {
        std::vector<std::string> row{std::to_string(index)};
        if (!entry->IsObject()) {
            row.push_back("(not an object)");
        } else {
            for (const char* member : kEntryMembers)
                row.push_back(sim::TableCell(EntryCell(*entry, member)));
        }
        rows.push_back(row);
    }
    for (const std::string& line : sim::FormatColumns(rows, "  "))
        std::cout << line << "\n";
}

void RunDump(const std::string& file, bool json, CommandContext& ctx) {
    RunCommand(json, ctx, [&] {
        RequireFile(file);
        const ArchiveDump dump = DumpArchive(file);
        if (json)
            PrintDumpJson(file, dump);
        else
            PrintDumpText(file, dump);
        ctx.exitCode = kExitOk;
    });
}

// ---- verify ------------------------------------------------------------------

// The sidecar of file: file + ".MD5", matched without regard to letter case as
// the printer's file system does (the exact name first). Empty when there is none.
fs::path FindSidecar(const fs::path& file) {
    const fs::path exact = file.string() + ".MD5";
    std::error_code ec;
    if (fs::is_regular_file(exact, ec))
        return exact;
    const std::string wanted = exact.filename().string();
    fs::path folder = file.parent_path();
    if (folder.empty())
        folder = ".";
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != wanted.size())
            continue;
        bool same = true;
        for (size_t i = 0; same && i < name.size(); ++i)
            same = tolower(static_cast<unsigned char>(name[i])) ==
                   tolower(static_cast<unsigned char>(wanted[i]));
        if (same && entry.is_regular_file(ec))
            return file.parent_path() / name;
    }
    return fs::path();
}

// The first line of the sidecar that a check reads (the first not starting with "/").
std::string SidecarLine(const fs::path& sidecar) {
    std::ifstream in(sidecar, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != '/')
            return line;
    }
    return std::string();
}

void RunVerify(const std::string& file, CommandContext& ctx) {
    RequireFile(file);
    const fs::path sidecar = FindSidecar(file);
    if (sidecar.empty()) {
        std::cout << "fail: no sidecar " << file
                  << ".MD5 (the archive is not loaded without one)\n";
        ctx.exitCode = kExitFailed;
        return;
    }
    bool passes;
    NString digest;
    {
        sim::StagingDevice staging;
        staging.Put(file, "archive");
        staging.Put(sidecar, "archive.MD5");
        passes = VerifyWithSidecar(u"\\archive", u"\\archive.MD5");
        digest = FileMd5(u"\\archive");
    }
    if (passes) {
        std::cout << "ok: " << file << " matches " << sidecar.string() << " (" << digest << ")\n";
        ctx.exitCode = kExitOk;
    } else {
        std::cout << "fail: " << file << " has the digest " << digest << ", but "
                  << sidecar.string() << " reads '" << sim::TableCell(SidecarLine(sidecar))
                  << "'\n";
        ctx.exitCode = kExitFailed;
    }
}

// ---- show ------------------------------------------------------------------

fs::path RequireDevice(const std::string& device) {
    std::error_code ec;
    if (device.empty() || !fs::is_directory(fs::path(device) / "fs", ec) ||
        !fs::is_directory(fs::path(device) / "hw", ec))
        throw UsageError("--device: '" + device + "' is not a simulated printer (no fs/ and hw/)");
    return fs::absolute(device, ec);
}

template <typename Writer>
void WriteOptional(Writer& writer, const std::optional<std::string>& text) {
    if (text)
        WriteString(writer, *text);
    else
        writer.Null();
}

template <typename Writer>
void WriteEntries(Writer& writer, const std::vector<sim::PropertyEntryView>& entries) {
    writer.StartArray();
    for (const sim::PropertyEntryView& entry : entries) {
        writer.StartObject();
        writer.Key("isObject");
        writer.Bool(entry.isObject);
        writer.Key("Name");
        WriteOptional(writer, entry.name);
        writer.Key("NameString");
        WriteOptional(writer, entry.nameString);
        writer.Key("Group");
        WriteOptional(writer, entry.group);
        writer.Key("GroupString");
        WriteOptional(writer, entry.groupString);
        writer.Key("Value");
        WriteOptional(writer, entry.value);
        writer.EndObject();
    }
    writer.EndArray();
}

// key: an object of flags and, when given, the entries.
template <typename Writer>
void WritePart(Writer& writer, const char* key,
               std::initializer_list<std::pair<const char*, bool>> flags,
               const std::vector<sim::PropertyEntryView>& entries) {
    writer.Key(key);
    writer.StartObject();
    for (const auto& flag : flags) {
        writer.Key(flag.first);
        writer.Bool(flag.second);
    }
    writer.Key("entries");
    WriteEntries(writer, entries);
    writer.EndObject();
}

void PrintShowJson(const fs::path& device, const sim::PropertyFilesView& view) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("device");
    WriteString(writer, device.string());
    writer.Key("files");
    writer.StartArray();
    for (const auto& file : view.files) {
        writer.StartObject();
        writer.Key("name");
        WriteString(writer, file.first);
        writer.Key("size");
        writer.Uint64(file.second);
        writer.EndObject();
    }
    writer.EndArray();
    WritePart(writer, "legacy", {{"present", view.hasLegacy}, {"reads", view.legacyReads}},
              view.legacyEntries);
    WritePart(writer, "override", {{"present", view.hasOverride}, {"loads", view.overrideLoads}},
              view.overrideEntries);
    WritePart(writer, "archive",
              {{"loads", view.archiveLoads}, {"fromBackup", view.archiveFromBackup}},
              view.archiveEntries);
    const PropertyLoadOutcome& o = view.outcome;
    writer.Key("load");
    writer.StartObject();
    const std::pair<const char*, bool> flags[] = {
        {"loaded", o.loaded},
        {"legacyRead", o.legacyRead},
        {"legacyFromBackup", o.legacyFromBackup},
        {"legacyMigrated", o.legacyConsumed},
        {"archiveLoaded", o.archiveLoaded},
        {"backupUsed", o.backupUsed},
        {"overrideFound", o.overrideFound},
        {"overrideLoaded", o.overrideLoaded},
        {"overrideMerged", o.overrideConsumed},
        {"backupRefreshed", o.backupRefreshed},
    };
    for (const auto& flag : flags) {
        writer.Key(flag.first);
        writer.Bool(flag.second);
    }
    writer.EndObject();
    writer.Key("entries");
    WriteEntries(writer, view.entriesAfterLoad);
    writer.EndObject();
    std::cout << buffer.GetString() << "\n";
}

void RunShow(const std::string& deviceArg, bool json, CommandContext& ctx) {
    RunCommand(json, ctx, [&] {
        const fs::path device = RequireDevice(deviceArg);
        const sim::PropertyFilesView view = sim::ViewPropertyFiles(device);
        if (json) {
            PrintShowJson(device, view);
        } else {
            std::cout << "property files of " << device.string() << ", as they stand:\n";
            for (const std::string& line : sim::DescribePropertyFiles(view, false))
                std::cout << line << "\n";
            std::cout << "the module's start-up load of them:\n";
            for (const std::string& line : sim::DescribePropertyFiles(view, true))
                std::cout << line << "\n";
        }
        ctx.exitCode = kExitOk;
    });
}

// ---- legacy files ------------------------------------------------------------

void RunLegacyMake(const std::string& in, const std::string& out, CommandContext& ctx) {
    std::vector<uint8_t> bytes = ReadInputFile(in);
    CheckOutputFile(out, {in});
    const uint16_t crc = Crc16::Compute(bytes);
    const bool endsInLineFeed = !bytes.empty() && bytes.back() == '\n';
    bytes.push_back(uint8_t(crc & 0xFF));
    bytes.push_back(uint8_t(crc >> 8));
    ReplaceOutputFile(out, bytes);
    std::cout << out << ": " << bytes.size() - 2 << " bytes of text and their CRC 0x" << std::hex
              << std::setw(4) << std::setfill('0') << crc << std::dec << "\n";
    if (endsInLineFeed)
        std::cerr << "fwsetup: note: " << in
                  << " ends in a line feed; the module reads the empty last line as a fault\n";
    ctx.exitCode = kExitOk;
}

void RunLegacyCheck(const std::string& file, CommandContext& ctx) {
    RequireFile(file);
    std::error_code ec;
    const std::string bytes = ReadHostFile(file, fs::file_size(file, ec));
    std::cout << "file     " << file << " (" << bytes.size() << " bytes)\n";
    if (bytes.size() > 2) {
        const std::string text = bytes.substr(0, bytes.size() - 2);
        const uint16_t stored = uint16_t(uint8_t(bytes[bytes.size() - 2]) |
                                         (uint16_t(uint8_t(bytes[bytes.size() - 1])) << 8));
        const uint16_t computed = Crc16::Compute(text);
        std::cout << std::hex << std::setfill('0') << "crc      stored 0x" << std::setw(4) << stored
                  << ", computed 0x" << std::setw(4) << computed << std::dec
                  << (stored == computed ? ": matches" : ": does not match") << "\n";
    } else {
        std::cout << "crc      none: a legacy file holds more than 2 bytes\n";
    }
    bool reads;
    std::vector<sim::PropertyEntryView> entries;
    LegacyEntries legacy;
    {
        sim::StagingDevice staging;
        staging.Put(file, "Properties.ini");
        const std::shared_ptr<ThreadFactory> factory = std::make_shared<ThreadFactory>(253);
        PropertyFileStore store(factory, 253, u"/Properties.ini", u"/PropertiesOverride.ini");
        store.MainArchive().HoldSaves();
        reads = store.ReadLegacyFile(u"/Properties.ini", legacy);
        JsonDocument::Document document;
        store.MainArchive().CopyDocument(document);
        const auto properties = document.FindMember("Properties");
        if (properties != document.MemberEnd() && properties->value.IsArray()) {
            for (const rapidjson::Value& element : properties->value.GetArray()) {
                sim::PropertyEntryView view;
                view.name = EntryCell(element, "Name");
                view.nameString = EntryCell(element, "NameString");
                view.group = EntryCell(element, "Group");
                view.groupString = EntryCell(element, "GroupString");
                view.value = EntryCell(element, "Value");
                entries.push_back(view);
            }
        }
    }
    std::cout << "result   " << (reads ? "reads whole" : "does not read whole");
    if (!reads && bytes.size() > 2 && bytes[bytes.size() - 3] == '\n')
        std::cout << " (the text ends in a line feed: its empty last line is not a property line)";
    std::cout << "\n";
    std::cout << "entries  " << entries.size() << " added to the archive, " << legacy.size()
              << " keys\n";
    std::vector<std::vector<std::string>> rows{
        {"Group", "Name", "GroupString", "NameString", "Value"}};
    for (const sim::PropertyEntryView& entry : entries) {
        rows.push_back({sim::TableCell(entry.group), sim::TableCell(entry.name),
                        sim::TableCell(entry.groupString), sim::TableCell(entry.nameString),
                        sim::TableCell(entry.value)});
    }
    if (!entries.empty()) {
        for (const std::string& line : sim::FormatColumns(rows, "  "))
            std::cout << line << "\n";
    }
    ctx.exitCode = reads ? kExitOk : kExitFailed;
}

}  // namespace

void AddPropsCommands(CLI::App& app, CommandContext& ctx) {
    CLI::App* props = app.add_subcommand("props", "Property archives of the printer");
    props->require_subcommand(1);

    struct DumpArgs {
        std::string file;
        bool json = false;
    };
    auto dump = std::make_shared<DumpArgs>();
    CLI::App* dumpCommand = props->add_subcommand(
        "dump", "An archive file as the module reads it: header, length check, JSON, entries");
    dumpCommand->add_option("FILE", dump->file, "the archive file")->required();
    dumpCommand->add_flag("--json", dump->json, "one JSON document on stdout");
    dumpCommand->callback([dump, &ctx] { RunDump(dump->file, dump->json, ctx); });

    auto verify = std::make_shared<std::string>();
    CLI::App* verifyCommand = props->add_subcommand(
        "verify", "FILE against FILE.MD5 as the module checks it (exit 0 passes, 1 not)");
    verifyCommand->add_option("FILE", *verify, "the archive file")->required();
    verifyCommand->callback([verify, &ctx] { RunVerify(*verify, ctx); });

    struct ShowArgs {
        std::string device;
        bool json = false;
    };
    auto show = std::make_shared<ShowArgs>();
    CLI::App* showCommand = props->add_subcommand(
        "show", "The printer's property files and what the module's start-up load makes of them");
    showCommand->add_option("--device", show->device, "the simulated printer")->required();
    showCommand->add_flag("--json", show->json, "one JSON document on stdout");
    showCommand->callback([show, &ctx] { RunShow(show->device, show->json, ctx); });

    CLI::App* legacy = props->add_subcommand("legacy", "Legacy property files (Properties.ini)");
    legacy->require_subcommand(1);
    struct MakeArgs {
        std::string in;
        std::string out;
    };
    auto make = std::make_shared<MakeArgs>();
    CLI::App* makeCommand = legacy->add_subcommand(
        "make", "OUT = IN followed by its CRC-16/MAXIM-DOW (low byte first)");
    makeCommand->add_option("IN", make->in, "the text of the legacy file")->required();
    makeCommand->add_option("OUT", make->out, "the legacy file to write")->required();
    makeCommand->callback([make, &ctx] { RunLegacyMake(make->in, make->out, ctx); });

    auto check = std::make_shared<std::string>();
    CLI::App* checkCommand = legacy->add_subcommand(
        "check", "A legacy file as the module reads it (exit 0 reads whole, 1 not)");
    checkCommand->add_option("FILE", *check, "the legacy file")->required();
    checkCommand->callback([check, &ctx] { RunLegacyCheck(*check, ctx); });
}

}  // namespace fwsetup
