#include "properties/previous_build_number_property_creator.h"

#include <memory>

#include "fileutil/file_operation.h"
#include "package/file_stream.h"
#include "properties/json_document.h"
#include "properties/property_catalogue.h"
#include "properties/property_manager.h"
#include "properties/string_property.h"
#include "runtime/thread_factory.h"

namespace PreviousBuildNumberPropertyCreator {

const WString kUpgradeDescriptionPath = u"\\UpgradeTemp\\prevUpgrade.json";
const WString kQtLibsVersionPath = u"\\boot\\qtlibs_version.ini";
const WString kPropertyFilePath = u"/Store/Properties.ini";
const WString kPropertyOverrideFilePath = u"/Store/PropertiesOverride.ini";

namespace {

const uint32_t kFactoryPriority = 253;
const int32_t kWorkerPriority = 251;
const int32_t kSaverPriority = 253;

// The whole file, or false when it cannot be opened or read in full.
bool ReadWholeFile(const WString& path, NString& text) {
    FileStream stream(path, StreamMode::Read);
    if (!stream.IsGood())
        return false;
    const uint32_t size = stream.Size();
    // A text this long could not be parsed in the memory there is.
    if (size > JsonDocument::LoadLimit())
        return false;
    ByteVector bytes;
    const int read = stream.ReadInto(bytes, size);
    if (read < 0 ? size != 0 : static_cast<uint32_t>(read) != size)
        return false;
    text.assign(bytes.begin(), bytes.end());
    return true;
}

}  // namespace

void Create() {
    const NString buildNumber = GetBuildNumber();
    if (buildNumber.empty())
        return;
    std::shared_ptr<ThreadFactory> factory = std::make_shared<ThreadFactory>(kFactoryPriority);
    {
        PropertyManager manager(factory, kWorkerPriority, kSaverPriority, kPropertyFilePath,
                                kPropertyOverrideFilePath);
        std::shared_ptr<StringProperty> property = std::make_shared<StringProperty>(
            NString(), PropertyCatalogue::kPreviousFirmwareDriverBuildNumberId,
            PropertyCatalogue::kPreviousFirmwareDriverBuildNumberName,
            PropertyCatalogue::kProductInfoGroupId, PropertyCatalogue::kProductInfoGroupName);
        manager.AddProperty(property);
        property->SetValue(buildNumber);
        property.reset();
    }
    factory.reset();
}

NString GetBuildNumber() {
    if (FileOperation::FileExists(kUpgradeDescriptionPath))
        return GetBuildNumberFromUpgradeJson();
    if (FileOperation::FileExists(kQtLibsVersionPath))
        return GetLastPartAfterDot(ReadIniValue(kQtLibsVersionPath, "QtBuildNumber"));
    return NString();
}

NString GetBuildNumberFromUpgradeJson() {
    NString text;
    if (!ReadWholeFile(kUpgradeDescriptionPath, text))
        return NString();
    JsonDocument::Document document;
    if (!JsonDocument::ParseText(text.c_str(), document) || !document.IsObject())
        return NString();
    const rapidjson::Value::ConstMemberIterator files = document.FindMember("Files");
    if (files == document.MemberEnd() || !files->value.IsArray())
        return NString();
    const NString& wanted = PropertyCatalogue::kFirmwareDriverComponentId;
    for (rapidjson::Value::ConstValueIterator file = files->value.Begin();
         file != files->value.End(); ++file) {
        if (!file->IsObject())
            continue;
        const rapidjson::Value::ConstMemberIterator id = file->FindMember("componentIdGUID");
        if (id == file->MemberEnd() || !id->value.IsString() ||
            NString(id->value.GetString(), id->value.GetStringLength()) != wanted) {
            continue;
        }
        const rapidjson::Value::ConstMemberIterator version = file->FindMember("componentVersion");
        if (version == file->MemberEnd() || !version->value.IsString())
            return NString();
        return GetLastPartAfterDot(
            NString(version->value.GetString(), version->value.GetStringLength()));
    }
    return NString();
}

NString GetLastPartAfterDot(const NString& text) {
    const size_t dot = text.rfind('.');
    if (dot == NString::npos)
        return NString();
    return text.substr(dot + 1);
}

}  // namespace PreviousBuildNumberPropertyCreator

NString ReadIniValue(const WString& path, const NString& key) {
    const NString result = "Error";
    NString text;
    {
        FileStream stream(path, StreamMode::Read);
        if (!stream.IsGood())
            return result;
        const uint32_t size = stream.Size();
        ByteVector bytes;
        const int read = stream.ReadInto(bytes, size);
        if (read < 0 ? size != 0 : static_cast<uint32_t>(read) != size)
            return result;
        text.assign(bytes.begin(), bytes.end());
    }
    size_t begin = 0;
    for (;;) {
        const size_t end = text.find('\n', begin);
        const NString line = text.substr(begin, end == NString::npos ? NString::npos : end - begin);
        const size_t at = line.find(key);
        if (at != NString::npos) {
            const size_t equals = line.find('=', at);
            if (equals == NString::npos)
                return result;
            const size_t quote = line.find('"', equals);
            if (quote == NString::npos)
                return result;
            const size_t last = line.find_last_not_of("\"\\\r\n");
            if (last == NString::npos || last <= quote)
                return result;
            return line.substr(quote + 1, last - quote);
        }
        if (end == NString::npos)
            return result;
        begin = end + 1;
    }
}
