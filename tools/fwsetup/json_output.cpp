#include "json_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "app.h"
#include "platform/host/safe_files.h"
#include "sim/upgrade_series.h"

namespace fwsetup {

void JsonString(JsonWriter& writer, const std::string& text) {
    const std::string valid = ValidUtf8(text);
    writer.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

void JsonMember(JsonWriter& writer, const char* key, const std::string& text) {
    writer.Key(key);
    JsonString(writer, text);
}

void JsonStrings(JsonWriter& writer, const std::vector<std::string>& texts) {
    writer.StartArray();
    for (const std::string& text : texts)
        JsonString(writer, text);
    writer.EndArray();
}

namespace {

const char* StatusKey(sim::PackageStatus status) {
    switch (status) {
        case sim::PackageStatus::kInstalled:
            return "installed";
        case sim::PackageStatus::kReportedFailure:
            return "reportedFailure";
        case sim::PackageStatus::kFailed:
            return "failed";
        case sim::PackageStatus::kNotRun:
            return "notRun";
    }
    return "unknown";
}

}  // namespace

void JsonPackageOutcome(JsonWriter& writer, const sim::PackageOutcome& outcome) {
    JsonMember(writer, "package", outcome.package.string());
    writer.Key("status");
    writer.String(StatusKey(outcome.status));
    JsonMember(writer, "reason", outcome.reason);
    writer.Key("exitCode");
    if (outcome.exitCode >= 0)
        writer.Int(outcome.exitCode);
    else
        writer.Null();
    writer.Key("progressCodes");
    writer.StartArray();
    for (uint8_t code : outcome.codes)
        writer.Uint(code);
    writer.EndArray();
    JsonMember(writer, "output", outcome.output);
}

namespace {

void FlushStdout() {
    std::cout.flush();
    std::fflush(stdout);
}

}  // namespace

JsonOutput::JsonOutput(bool enabled) : enabled_(enabled) {
    if (!enabled_)
        return;
    FlushStdout();
    savedStdout_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (savedStdout_ >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        close(savedStdout_);
        savedStdout_ = -1;
    }
}

JsonOutput::~JsonOutput() {
    if (savedStdout_ < 0)
        return;
    FlushStdout();
    dup2(savedStdout_, STDOUT_FILENO);
    close(savedStdout_);
}

void JsonOutput::Print(const rapidjson::StringBuffer& document) {
    FlushStdout();
    const std::string text = std::string(document.GetString(), document.GetSize()) + "\n";
    if (savedStdout_ >= 0)
        platform::host::WriteAllFd(savedStdout_, text.data(), text.size());
    else
        std::cout << text << std::flush;
}

}  // namespace fwsetup
