#include "platform/host/json_file.h"

#include <fcntl.h>

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "platform/host/host_text.h"
#include "platform/host/safe_files.h"

namespace platform {
namespace host {
namespace {

// The files kept here nest a few levels at most. A deeper text is refused before
// parsing, so that neither the parser nor the writer recurses without bound.
const int kMaxNesting = 64;

bool NestsTooDeep(const std::string& text) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxNesting)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

// Larger files are not the simulation's: they count as broken.
const size_t kMaxJsonFile = 64u << 20;

JsonFileState LoadJsonObject(const std::string& device, const std::string& relative,
                             rapidjson::Document& document) {
    document.SetObject();
    std::string contents;
    const FileReadResult read = ReadFileBelow(device, relative, kMaxJsonFile, contents);
    if (read == kFileMissing)
        return kJsonFileMissing;
    if (read != kFileRead || NestsTooDeep(contents))
        return kJsonFileBroken;
    rapidjson::Document parsed;
    parsed.Parse(contents.c_str(), contents.size());
    if (parsed.HasParseError() || !parsed.IsObject())
        return kJsonFileBroken;
    document.Swap(parsed);
    return kJsonFileLoaded;
}

bool SaveJsonObject(const std::string& device, const std::string& relative,
                    const rapidjson::Document& document) {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    if (!document.Accept(writer))
        return false;
    std::string text(buffer.GetString(), buffer.GetSize());
    text.push_back('\n');
    return ReplaceFileBelow(device, relative, text);
}

rapidjson::Value* FindMemberIgnoringCase(rapidjson::Value& object, const std::string& name) {
    if (!object.IsObject())
        return 0;
    for (rapidjson::Value::MemberIterator it = object.MemberBegin(); it != object.MemberEnd();
         ++it) {
        const std::string memberName(it->name.GetString(), it->name.GetStringLength());
        if (EqualsIgnoringCase(memberName, name))
            return &it->value;
    }
    return 0;
}

void TraceDeviceCall(const std::string& device, const std::string& line) {
    if (device.empty())
        return;
    UniqueFd folder(OpenFolderBelow(device, "hw/trace", false));
    if (!folder.Valid())
        return;
    UniqueFd log(OpenFileAt(folder.Get(), "devices.log", O_WRONLY | O_CREAT | O_APPEND, 0644));
    if (!log.Valid())
        return;
    const std::string text = line + "\n";
    WriteAllFd(log.Get(), text.data(), text.size());
}

}  // namespace host
}  // namespace platform
