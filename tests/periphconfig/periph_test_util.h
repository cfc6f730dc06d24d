// Small helpers of the peripheral configuration tests.
#ifndef FWSETUP_TESTS_PERIPHCONFIG_PERIPH_TEST_UTIL_H
#define FWSETUP_TESTS_PERIPHCONFIG_PERIPH_TEST_UTIL_H

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "fileutil/crc16.h"
#include "platform/types.h"

namespace fwtest {

// A JSON text that the test means to be valid.
inline rapidjson::Document ParseJson(const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    if (document.HasParseError())
        throw std::runtime_error("bad JSON in a test: " + text);
    return document;
}

inline std::string Compact(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// The CRC, low byte first, then the text: a copied region 0.
inline ByteVector Wrapped(const std::string& text) {
    const uint16_t crc = Crc16::Compute(text);
    ByteVector bytes;
    bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

inline std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace fwtest

#endif
