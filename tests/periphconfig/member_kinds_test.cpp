// Every member of every record type given every JSON type: the record is built
// when the member's kind accepts the value and is null otherwise; nothing
// crashes or reads out of bounds (these tests run under the sanitizers).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "periph_test_util.h"
#include "periphconfig/device_config.h"
#include "periphconfig/record_schema.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;
using schema::Kind;

// The values every member is given, by label; "absent" removes the member.
const std::vector<std::pair<std::string, std::string>>& Values() {
    static const std::vector<std::pair<std::string, std::string>> values = {
        {"absent", ""},
        {"null", "null"},
        {"true", "true"},
        {"false", "false"},
        {"zero", "0"},
        {"300", "300"},
        {"minus one", "-1"},
        {"2^32+44", "4294967340"},
        {"-2^32-1", "-4294967297"},
        {"uint64 max", "18446744073709551615"},
        {"fraction", "1.5"},
        {"two point zero", "2.0"},
        {"exponent", "1e2"},
        {"empty string", "\"\""},
        {"string", "\"Output\""},
        {"empty array", "[]"},
        {"array of a number", "[1]"},
        {"array of an object", "[{}]"},
        {"empty object", "{}"},
        {"device object",
         "{\"name\":\"n\",\"class\":\"Gpio\",\"direction\":\"Output\",\"level\":\"Low\"}"},
    };
    return values;
}

// Which values each kind accepts (a record is built).
std::set<std::string> Accepted(Kind kind) {
    const std::set<std::string> integers = {"absent",  "zero",    "300",       "minus one",
                                            "2^32+44", "-2^32-1", "uint64 max"};
    const std::set<std::string> strings = {"empty string", "string"};
    const std::set<std::string> objects = {"absent", "empty object", "device object"};
    std::set<std::string> anything;
    for (const auto& value : Values())
        anything.insert(value.first);
    switch (kind) {
        case Kind::String:
        case Kind::Name:
        case Kind::Text:
            return strings;
        case Kind::OptionalName: {
            std::set<std::string> optional = strings;
            optional.insert("absent");
            return optional;
        }
        case Kind::Int:
        case Kind::Uint8:
        case Kind::Uint16:
            return integers;
        case Kind::Flag:
        case Kind::OptionalByte:
        case Kind::OptionalBool:
            return anything;
        case Kind::Device:
        case Kind::I2CDevice:
        case Kind::GpioRecord:
        case Kind::AdcRecord:
            return objects;
        case Kind::DeviceList:
            return {"absent", "empty array", "array of a number", "array of an object"};
        case Kind::BusPinNames:
        case Kind::BusPinPulls:
        case Kind::NameList:
            return {"absent", "empty array"};
    }
    return {};
}

TEST(MemberKinds, EveryMemberGivenEveryJsonType) {
    TempDevice device;
    int checked = 0;
    for (const schema::Class& c : schema::Classes()) {
        if (c.type == nullptr)
            continue;
        std::set<std::string> members;
        for (const schema::Field& field : c.fields) {
            if (!members.insert(field.member).second)
                continue;  // a second field from the same member
            std::set<std::string> accepted = Accepted(field.kind);
            // The member that decides whether it is read may be absent.
            if (field.onlyIf != nullptr && std::string(field.onlyIf) == field.member)
                accepted.insert("absent");
            for (const auto& value : Values()) {
                rapidjson::Document document;
                auto& a = document.GetAllocator();
                rapidjson::Value object = schema::MinimalObject(c, a, field.onlyIf != nullptr);
                object.RemoveMember(field.member);
                if (value.first != "absent") {
                    rapidjson::Document parsed;
                    parsed.Parse(value.second.c_str());
                    rapidjson::Value copy(parsed, a);
                    object.AddMember(rapidjson::StringRef(field.member), copy, a);
                }
                const bool built = static_cast<bool>(CreateDeviceConfig(object));
                EXPECT_EQ(built, accepted.count(value.first) == 1)
                    << c.name << "." << field.member << " = " << value.first << ": "
                    << fwtest::Compact(object);
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 1500);
}

// "name" and "class" are strings on every record, nested ones included.
TEST(MemberKinds, NameAndClassMustBeStrings) {
    TempDevice device;
    for (const schema::Class& c : schema::Classes()) {
        if (c.type == nullptr)
            continue;
        for (const char* member : {"name", "class"}) {
            for (const auto& value : Values()) {
                rapidjson::Document document;
                auto& a = document.GetAllocator();
                rapidjson::Value object = schema::MinimalObject(c, a);
                object.RemoveMember(member);
                if (value.first != "absent") {
                    rapidjson::Document parsed;
                    parsed.Parse(value.second.c_str());
                    object.AddMember(rapidjson::StringRef(member), rapidjson::Value(parsed, a), a);
                }
                // Only a string name keeps the record; only its own class name builds it.
                const bool expected =
                    std::string(member) == "name"
                        ? (value.first == "empty string" || value.first == "string")
                        : false;
                EXPECT_EQ(static_cast<bool>(CreateDeviceConfig(object)), expected)
                    << c.name << "." << member << " = " << value.first;
            }
        }
    }
}

// A member read only when "channel" exists is not looked at without it.
TEST(MemberKinds, AdcAveragingIsReadOnlyWithAChannel) {
    TempDevice device;
    for (const auto& value : Values()) {
        rapidjson::Document document;
        auto& a = document.GetAllocator();
        rapidjson::Value object = schema::MinimalObject(*schema::FindClass("Am335xAdc"), a);
        ASSERT_FALSE(object.HasMember("channel"));
        if (value.first != "absent") {
            rapidjson::Document parsed;
            parsed.Parse(value.second.c_str());
            object.AddMember("numSamplesToAverage", rapidjson::Value(parsed, a), a);
        }
        EXPECT_TRUE(CreateDeviceConfig(object)) << value.first;
    }
}

}  // namespace
