#include "platform/host/host_text.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace host {
namespace {

template <typename Text>
bool EqualsIgnoringCaseOf(const Text& a, const Text& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return EqualsIgnoringCaseOf(a, b);
}

bool EqualsIgnoringCase(const WString& a, const WString& b) {
    return EqualsIgnoringCaseOf(a, b);
}

std::string TrimAsciiSpace(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsAsciiSpace(text[begin]))
        ++begin;
    while (end > begin && IsAsciiSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool ReadSmallFile(const std::string& path, size_t limit, std::string& contents) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    contents.clear();
    char buffer[256];
    bool ok = true;
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        contents.append(buffer, static_cast<size_t>(got));
        if (contents.size() > limit) {
            ok = false;
            break;
        }
    }
    close(fd);
    return ok;
}

}  // namespace host
}  // namespace platform
