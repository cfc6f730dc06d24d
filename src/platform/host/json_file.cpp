#include "platform/host/json_file.h"

#include "platform/host/host_text.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <fstream>
#include <sstream>

namespace platform {
namespace host {
namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

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

JsonFileState LoadJsonObject(const std::string& path, rapidjson::Document& document) {
    document.SetObject();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return kJsonFileMissing;
    if (!S_ISREG(st.st_mode))
        return kJsonFileBroken;
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in)
        return kJsonFileBroken;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return kJsonFileBroken;
    const std::string contents = text.str();
    if (NestsTooDeep(contents))
        return kJsonFileBroken;
    rapidjson::Document parsed;
    parsed.Parse(contents.c_str(), contents.size());
    if (parsed.HasParseError() || !parsed.IsObject())
        return kJsonFileBroken;
    document.Swap(parsed);
    return kJsonFileLoaded;
}

bool SaveJsonObject(const std::string& path, const rapidjson::Document& document) {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    if (!document.Accept(writer))
        return false;
    std::string text(buffer.GetString(), buffer.GetSize());
    text.push_back('\n');
    const std::string temporary = path + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, text.data(), text.size());
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
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

void TraceDeviceCall(const std::string& hwDir, const std::string& line) {
    if (hwDir.empty())
        return;
    const std::string folder = hwDir + "/trace";
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    const std::string path = folder + "/devices.log";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const std::string text = line + "\n";
    WriteAll(fd, text.data(), text.size());
    close(fd);
}

}  // namespace host
}  // namespace platform
