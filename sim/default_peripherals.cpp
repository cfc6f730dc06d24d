#include "sim/default_peripherals.h"

#include <rapidjson/document.h>
#include <rapidjson/encodings.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <stdexcept>

namespace sim {

extern const unsigned char kDefaultPeripheralsJson[];
extern const size_t kDefaultPeripheralsJsonSize;

const char kDefaultProductName[] = "OndrelThreeHundredDpi";

namespace {

bool IsUtf8(const std::string& text) {
    rapidjson::MemoryStream stream(text.data(), text.size());
    rapidjson::StringBuffer ignored;
    while (stream.Tell() < text.size()) {
        if (!rapidjson::UTF8<>::Validate(stream, ignored))
            return false;
    }
    return true;
}

}  // namespace

std::string DefaultPeripheralDocument() {
    return std::string(reinterpret_cast<const char*>(kDefaultPeripheralsJson),
                       kDefaultPeripheralsJsonSize);
}

std::string DefaultPeripheralDocument(const std::string& productName) {
    if (!IsUtf8(productName))
        throw std::runtime_error("the product name is not UTF-8");
    rapidjson::Document document;
    const std::string text = DefaultPeripheralDocument();
    document.Parse(text.c_str(), text.size());
    if (document.HasParseError() || !document.IsObject() || !document.HasMember("platform") ||
        !document["platform"].IsObject() || !document["platform"].HasMember("productName"))
        throw std::runtime_error("the built-in peripheral configuration has no product name");
    document["platform"]["productName"].SetString(
        productName.data(), static_cast<rapidjson::SizeType>(productName.size()),
        document.GetAllocator());
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    document.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

}  // namespace sim
