// Machine-readable output: one JSON document on stdout, built with RapidJSON.
//
// While a command runs with --json, JsonOutput points the process's stdout
// (file descriptor 1, inherited by the programs it starts) at stderr, so that
// nothing but the document reaches stdout; Print writes the document to the
// real stdout. The destructor puts stdout back, also when the command throws,
// so that Main's {"error": "..."} document lands there too.
#ifndef FWSETUP_TOOLS_JSON_OUTPUT_H
#define FWSETUP_TOOLS_JSON_OUTPUT_H

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <string>
#include <vector>

namespace sim {
struct PackageOutcome;
}

namespace fwsetup {

typedef rapidjson::Writer<rapidjson::StringBuffer> JsonWriter;

// text as a JSON string, bytes outside UTF-8 replaced by U+FFFD.
void JsonString(JsonWriter& writer, const std::string& text);
// key, then text.
void JsonMember(JsonWriter& writer, const char* key, const std::string& text);
// An array of strings.
void JsonStrings(JsonWriter& writer, const std::vector<std::string>& texts);

// The members of one package's outcome in an upgrade series (upgrade, demo):
// "package", "status", "reason", "exitCode", "progressCodes", "output".
void JsonPackageOutcome(JsonWriter& writer, const sim::PackageOutcome& outcome);

class JsonOutput {
  public:
    // Does nothing when enabled is false.
    explicit JsonOutput(bool enabled);
    ~JsonOutput();
    JsonOutput(const JsonOutput&) = delete;
    JsonOutput& operator=(const JsonOutput&) = delete;

    bool enabled() const { return enabled_; }
    // The document, then a line end, on the real stdout.
    void Print(const rapidjson::StringBuffer& document);

  private:
    bool enabled_;
    int savedStdout_ = -1;
};

}  // namespace fwsetup

#endif
