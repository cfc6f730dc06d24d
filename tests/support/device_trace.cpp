#include "support/device_trace.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <fstream>
#include <set>
#include <sstream>

namespace fwtest {
namespace {

namespace fs = std::filesystem;

std::optional<std::vector<uint32_t>> Numbers(const rapidjson::Value& value, const std::string& line,
                                             const char* member) {
    std::vector<uint32_t> numbers;
    EXPECT_TRUE(value.IsArray()) << member << " in " << line;
    if (!value.IsArray())
        return std::nullopt;
    for (const rapidjson::Value& n : value.GetArray()) {
        EXPECT_TRUE(n.IsUint()) << member << " in " << line;
        numbers.push_back(n.IsUint() ? n.GetUint() : 0);
    }
    return numbers;
}

TraceCall Parse(const std::string& line) {
    TraceCall call;
    call.line = line;
    rapidjson::Document document;
    document.Parse(line.c_str(), line.size());
    EXPECT_TRUE(!document.HasParseError() && document.IsObject()) << line;
    if (document.HasParseError() || !document.IsObject())
        return call;
    static const std::set<std::string> kMembers = {"dev",    "op",   "code",   "in",     "out",
                                                   "config", "data", "offset", "method", "ok"};
    for (auto it = document.MemberBegin(); it != document.MemberEnd(); ++it)
        EXPECT_TRUE(kMembers.count(it->name.GetString())) << it->name.GetString() << " in " << line;
    auto text = [&](const char* name, std::string& into) {
        auto it = document.FindMember(name);
        if (it == document.MemberEnd())
            return false;
        EXPECT_TRUE(it->value.IsString()) << name << " in " << line;
        if (it->value.IsString())
            into = it->value.GetString();
        return true;
    };
    EXPECT_TRUE(text("dev", call.dev)) << line;
    EXPECT_TRUE(text("op", call.op)) << line;
    EXPECT_EQ(text("code", call.code), call.op == "ioctl") << line;
    std::string data;
    if (text("data", data))
        call.data = data;
    EXPECT_EQ(call.data.has_value(), call.op == "read" || call.op == "write") << line;
    for (const char* name : {"in", "out", "config"}) {
        auto it = document.FindMember(name);
        if (it == document.MemberEnd())
            continue;
        EXPECT_EQ(call.op, "ioctl") << line;
        auto numbers = Numbers(it->value, line, name);
        (name[0] == 'i' ? call.in : name[0] == 'o' ? call.out : call.config) = numbers;
    }
    auto offset = document.FindMember("offset");
    auto method = document.FindMember("method");
    EXPECT_EQ(offset != document.MemberEnd(), call.op == "seek") << line;
    EXPECT_EQ(method != document.MemberEnd(), call.op == "seek") << line;
    if (offset != document.MemberEnd() && offset->value.IsInt64())
        call.offset = offset->value.GetInt64();
    if (method != document.MemberEnd() && method->value.IsUint())
        call.method = method->value.GetUint();
    auto ok = document.FindMember("ok");
    EXPECT_TRUE(ok != document.MemberEnd() && ok->value.IsBool()) << line;
    if (ok != document.MemberEnd() && ok->value.IsBool())
        call.ok = ok->value.GetBool();
    return call;
}

}  // namespace

std::string TraceCall::Brief() const {
    return dev + " " + op + (code.empty() ? "" : " " + code);
}

void StartDeviceTrace(const fs::path& device) {
    std::ofstream out(device / "hw" / "trace.jsonl", std::ios::trunc);
}

void ClearDeviceTrace(const fs::path& device) {
    StartDeviceTrace(device);
}

std::vector<TraceCall> ReadDeviceTrace(const fs::path& device) {
    std::ifstream in(device / "hw" / "trace.jsonl");
    std::vector<TraceCall> calls;
    for (std::string line; std::getline(in, line);)
        calls.push_back(Parse(line));
    return calls;
}

std::vector<std::string> BriefTrace(const std::vector<TraceCall>& calls) {
    std::vector<std::string> brief;
    for (const TraceCall& call : calls)
        brief.push_back(call.Brief());
    return brief;
}

}  // namespace fwtest
