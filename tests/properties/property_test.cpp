#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "properties/bool_property.h"
#include "properties/string_property.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::shared_ptr<StringProperty> MakeString(const NString& value) {
    return std::make_shared<StringProperty>(value, "ID-1", "Name One", "GROUP-1", "Group One");
}

std::shared_ptr<BoolProperty> MakeBool(bool value) {
    return std::make_shared<BoolProperty>(value, "ID-2", "Name Two", "GROUP-1", "Group One");
}

// What the listeners of a property heard: one label per call, and whether
// each call received the property itself.
struct Heard {
    std::vector<std::string> calls;
    bool allSelf = true;

    ValueChangedListener Listener(const std::string& label, const Property* self) {
        return [this, label, self](std::shared_ptr<Property> changed) {
            calls.push_back(label);
            allSelf = allSelf && changed.get() == self;
        };
    }
};

TEST(PropertyIdentity, KeepsTheFourTextsAsGiven) {
    StringProperty p("v", "f3f63980-ca50", "Build [no.]", "{GROUP}", "Product Info");
    EXPECT_EQ(p.Id(), "f3f63980-ca50");
    EXPECT_EQ(p.Name(), "Build [no.]");
    EXPECT_EQ(p.GroupId(), "{GROUP}");
    EXPECT_EQ(p.GroupName(), "Product Info");
}

struct StringSetterCase {
    const char* what;
    std::function<bool(StringProperty&)> set;
    bool result;
    bool notifies;
    NString after;
};

TEST(PropertyStringSetters, ChangeTheValueAndNotifyAsTheirKindSays) {
    const uint8_t withZero[] = {'a', 0, 'b'};
    const uint8_t same[] = {'o', 'l', 'd'};
    const StringSetterCase cases[] = {
        {"SetValue with a new text", [](StringProperty& p) { return p.SetValue("new"); }, true,
         true, "new"},
        {"SetValue with the current text", [](StringProperty& p) { return p.SetValue("old"); },
         true, false, "old"},
        {"SetValue with the empty text", [](StringProperty& p) { return p.SetValue(""); }, true,
         true, ""},
        {"SetValue with a longer text that starts alike",
         [](StringProperty& p) { return p.SetValue("older"); }, true, true, "older"},
        {"SetValueNoEvent", [](StringProperty& p) { return p.SetValueNoEvent("new"); }, true, false,
         "new"},
        {"SetValueFromString",
         [](StringProperty& p) {
             NString t = "new";
             return p.SetValueFromString(t);
         },
         true, true, "new"},
        {"SetValueFromString with the current text",
         [](StringProperty& p) {
             NString t = "old";
             return p.SetValueFromString(t);
         },
         true, false, "old"},
        {"SetValueFromStringNoEvent",
         [](StringProperty& p) {
             NString t = "new";
             return p.SetValueFromStringNoEvent(t);
         },
         true, false, "new"},
        {"SetValueFromArray keeps zero bytes",
         [&](StringProperty& p) { return p.SetValueFromArray(withZero, 3); }, true, true,
         NString("a\0b", 3)},
        {"SetValueFromArray with the current bytes",
         [&](StringProperty& p) { return p.SetValueFromArray(same, 3); }, true, false, "old"},
        {"SetValueFromArray of no bytes",
         [](StringProperty& p) { return p.SetValueFromArray(nullptr, 0); }, true, true, ""},
        {"SetValueFromArray of null data with a length",
         [](StringProperty& p) { return p.SetValueFromArray(nullptr, 2); }, false, false, "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::shared_ptr<StringProperty> p = MakeString("old");
        Heard heard;
        p->AddValueChangedListener(heard.Listener("first", p.get()));
        p->AddValueChangedListener(heard.Listener("second", p.get()));
        EXPECT_EQ(c.set(*p), c.result);
        EXPECT_EQ(p->GetValue(), c.after);
        EXPECT_EQ(p->ToString(), c.after);
        EXPECT_EQ(p->SaveValueToString(), c.after);
        EXPECT_EQ(heard.calls, c.notifies ? std::vector<std::string>({"first", "second"})
                                          : std::vector<std::string>());
        EXPECT_TRUE(heard.allSelf);
    }
}

struct BoolSetterCase {
    const char* what;
    std::function<bool(BoolProperty&)> set;
    bool result;
    bool notifies;
    bool after;
};

TEST(PropertyBoolSetters, ChangeTheValueAndNotifyAsTheirKindSays) {
    const uint8_t one[] = {1};
    const uint8_t zero[] = {0};
    const uint8_t two[] = {2};
    const uint8_t oneZero[] = {1, 0};
    auto fromString = [](const char* text) {
        return [text](BoolProperty& p) {
            NString t = text;
            return p.SetValueFromString(t);
        };
    };
    const BoolSetterCase cases[] = {
        {"SetValue true", [](BoolProperty& p) { return p.SetValue(true); }, true, true, true},
        {"SetValue with the current value", [](BoolProperty& p) { return p.SetValue(false); }, true,
         false, false},
        {"SetValueNoEvent", [](BoolProperty& p) { return p.SetValueNoEvent(true); }, true, false,
         true},
        {"SetValueFromString True", fromString("True"), true, true, true},
        {"SetValueFromString FALSE", fromString("FALSE"), true, false, false},
        {"SetValueFromString 0 is true", fromString("0"), true, true, true},
        {"SetValueFromString empty is true", fromString(""), true, true, true},
        {"SetValueFromStringNoEvent",
         [](BoolProperty& p) {
             NString t = "yes";
             return p.SetValueFromStringNoEvent(t);
         },
         true, false, true},
        {"SetValueFromArray 1", [&](BoolProperty& p) { return p.SetValueFromArray(one, 1); }, true,
         true, true},
        {"SetValueFromArray 0", [&](BoolProperty& p) { return p.SetValueFromArray(zero, 1); }, true,
         false, false},
        {"SetValueFromArray of two bytes",
         [&](BoolProperty& p) { return p.SetValueFromArray(oneZero, 2); }, false, false, false},
        {"SetValueFromArray of no bytes",
         [&](BoolProperty& p) { return p.SetValueFromArray(one, 0); }, false, false, false},
        {"SetValueFromArray of a byte other than 0 and 1",
         [&](BoolProperty& p) { return p.SetValueFromArray(two, 1); }, false, false, false},
        {"SetValueFromArray of null data",
         [](BoolProperty& p) { return p.SetValueFromArray(nullptr, 1); }, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::shared_ptr<BoolProperty> p = MakeBool(false);
        Heard heard;
        p->AddValueChangedListener(heard.Listener("first", p.get()));
        p->AddValueChangedListener(heard.Listener("second", p.get()));
        EXPECT_EQ(c.set(*p), c.result);
        EXPECT_EQ(p->GetValue(), c.after);
        EXPECT_EQ(heard.calls, c.notifies ? std::vector<std::string>({"first", "second"})
                                          : std::vector<std::string>());
        EXPECT_TRUE(heard.allSelf);
    }
}

TEST(PropertyBool, ParseBoolIsFalseOnlyForTheWordFalse) {
    const struct {
        NString text;
        bool result;
        NString after;  // the caller's text afterwards
    } cases[] = {
        {"false", false, "false"},
        {"FALSE", false, "false"},
        {"fAlSe", false, "false"},
        {"False", false, "false"},
        {"TRUE", true, "true"},    // four bytes: lower-cased too
        {"Fals", true, "fals"},    // four bytes, not the word
        {"FALSY", true, "falsy"},  // five letters other than false
        {"0", true, "0"},
        {"", true, ""},
        {"No", true, "No"},          // other lengths stay as they are
        {"FALSE ", true, "FALSE "},  // six bytes
        {" false", true, " false"},
        {"FAL\xC9", true, "fal\xC9"},  // bytes beyond ASCII stay
        {NString("fa\0se", 5), true, NString("fa\0se", 5)},
    };
    for (const auto& c : cases) {
        NString text = c.text;
        EXPECT_EQ(ParseBool(text), c.result) << c.text;
        EXPECT_EQ(text, c.after) << c.text;
    }
}

TEST(PropertyBool, SetValueFromStringLowerCasesTheCallersText) {
    std::shared_ptr<BoolProperty> p = MakeBool(true);
    NString text = "FALSE";
    EXPECT_TRUE(p->SetValueFromString(text));
    EXPECT_FALSE(p->GetValue());
    EXPECT_EQ(text, "false");
    NString again = "TRUE";
    EXPECT_TRUE(p->SetValueFromStringNoEvent(again));
    EXPECT_TRUE(p->GetValue());
    EXPECT_EQ(again, "true");
}

TEST(PropertyBool, ToStringReadsBackToTheSameValue) {
    for (bool value : {true, false}) {
        std::shared_ptr<BoolProperty> p = MakeBool(value);
        EXPECT_EQ(p->ToString(), value ? "True" : "False");
        EXPECT_EQ(p->SaveValueToString(), p->ToString());
        NString text = p->SaveValueToString();
        std::shared_ptr<BoolProperty> back = MakeBool(!value);
        back->SetValueFromString(text);
        EXPECT_EQ(back->GetValue(), value);
    }
}

// SaveValueToArray into an 8-byte buffer filled with 0xAA beforehand.
const uint8_t X = 0xAA;

TEST(PropertyString, SaveValueToArrayFillsExactlyTheCapacity) {
    const struct {
        NString value;
        uint32_t capacity;
        int32_t result;
        Bytes buffer;
    } cases[] = {
        {"abc", 3, 3, {'a', 'b', 'c', X, X, X, X, X}},  // no terminating zero
        {"abc", 2, -1, {X, X, X, X, X, X, X, X}},       // too small: untouched
        {"abc", 6, 3, {'a', 'b', 'c', 0, 0, 0, X, X}},
        {"abc", 0, -1, {X, X, X, X, X, X, X, X}},
        {"", 0, 0, {X, X, X, X, X, X, X, X}},
        {"", 2, 0, {0, 0, X, X, X, X, X, X}},
        {NString("a\0b", 3), 4, 3, {'a', 0, 'b', 0, X, X, X, X}},
    };
    for (const auto& c : cases) {
        std::shared_ptr<StringProperty> p = MakeString(c.value);
        Bytes buffer(8, X);
        EXPECT_EQ(p->SaveValueToArray(buffer.data(), c.capacity), c.result)
            << c.value << " " << c.capacity;
        EXPECT_EQ(buffer, c.buffer) << c.value << " " << c.capacity;
    }
}

TEST(PropertyString, SaveValueToArrayRefusesANullBuffer) {
    EXPECT_EQ(MakeString("abc")->SaveValueToArray(nullptr, 8), -1);
    EXPECT_EQ(MakeString("")->SaveValueToArray(nullptr, 8), -1);
    EXPECT_EQ(MakeString("")->SaveValueToArray(nullptr, 0), 0);
}

TEST(PropertyString, ValueSurvivesTheByteArrayRoundTrip) {
    for (const NString& value :
         {NString(""), NString("abc"), NString("a\0b\0", 4), NString("\xC3\xBC\xFF")}) {
        std::shared_ptr<StringProperty> p = MakeString(value);
        Bytes buffer(value.size() + 1, X);
        const int32_t n = p->SaveValueToArray(buffer.data(), static_cast<uint32_t>(buffer.size()));
        ASSERT_EQ(n, static_cast<int32_t>(value.size()));
        std::shared_ptr<StringProperty> back = MakeString("other");
        EXPECT_TRUE(back->SetValueFromArray(buffer.data(), static_cast<uint32_t>(n)));
        EXPECT_EQ(back->GetValue(), value);
    }
}

TEST(PropertyBool, SaveValueToArrayWritesTheValueByteThenZeros) {
    const struct {
        bool value;
        uint32_t capacity;
        int32_t result;
        Bytes buffer;
    } cases[] = {
        {true, 4, 1, {1, 0, 0, 0, X, X, X, X}},
        {false, 4, 1, {0, 0, 0, 0, X, X, X, X}},
        {true, 1, 1, {1, X, X, X, X, X, X, X}},
        {true, 0, -1, {X, X, X, X, X, X, X, X}},
    };
    for (const auto& c : cases) {
        std::shared_ptr<BoolProperty> p = MakeBool(c.value);
        Bytes buffer(8, X);
        EXPECT_EQ(p->SaveValueToArray(buffer.data(), c.capacity), c.result) << c.capacity;
        EXPECT_EQ(buffer, c.buffer) << c.value << " " << c.capacity;
        if (c.result == 1) {
            std::shared_ptr<BoolProperty> back = MakeBool(!c.value);
            EXPECT_TRUE(back->SetValueFromArray(buffer.data(), 1));
            EXPECT_EQ(back->GetValue(), c.value);
        }
    }
    EXPECT_EQ(MakeBool(true)->SaveValueToArray(nullptr, 4), -1);
}

TEST(PropertyListeners, KeyedListenersFollowThePlainOnesInKeyOrder) {
    std::shared_ptr<StringProperty> p = MakeString("old");
    Heard heard;
    EXPECT_TRUE(p->AddKeyedListener("b", heard.Listener("keyed b", p.get())));
    p->AddValueChangedListener(heard.Listener("plain 1", p.get()));
    EXPECT_TRUE(p->AddKeyedListener("a", heard.Listener("keyed a", p.get())));
    p->AddValueChangedListener(heard.Listener("plain 2", p.get()));
    p->SetValue("new");
    EXPECT_EQ(heard.calls, std::vector<std::string>({"plain 1", "plain 2", "keyed a", "keyed b"}));
    EXPECT_TRUE(heard.allSelf);
}

TEST(PropertyListeners, KeyedListenersAreAddedOncePerKeyAndRemovedByKey) {
    std::shared_ptr<StringProperty> p = MakeString("0");
    Heard heard;
    EXPECT_TRUE(p->AddKeyedListener("k", heard.Listener("first", p.get())));
    EXPECT_FALSE(p->AddKeyedListener("k", heard.Listener("second", p.get())));
    EXPECT_FALSE(p->AddKeyedListener("e", ValueChangedListener()));
    EXPECT_FALSE(p->RemoveKeyedListener("e"));
    p->SetValue("1");
    EXPECT_EQ(heard.calls, std::vector<std::string>({"first"}));

    EXPECT_TRUE(p->RemoveKeyedListener("k"));
    EXPECT_FALSE(p->RemoveKeyedListener("k"));
    p->SetValue("2");
    EXPECT_EQ(heard.calls, std::vector<std::string>({"first"}));

    EXPECT_TRUE(p->AddKeyedListener("k", heard.Listener("again", p.get())));
    p->SetValue("3");
    EXPECT_EQ(heard.calls, std::vector<std::string>({"first", "again"}));
}

TEST(PropertyListeners, AnEmptyListenerIsNotAdded) {
    std::shared_ptr<StringProperty> p = MakeString("old");
    p->AddValueChangedListener(ValueChangedListener());
    Heard heard;
    p->AddValueChangedListener(heard.Listener("real", p.get()));
    EXPECT_TRUE(p->SetValue("new"));  // no std::bad_function_call
    EXPECT_EQ(heard.calls, std::vector<std::string>({"real"}));
}

TEST(PropertyListeners, AListenerAddedDuringANotificationHearsFromTheNextChangeOn) {
    std::shared_ptr<StringProperty> p = MakeString("0");
    Heard heard;
    int adds = 0;
    // Adds more listeners than the list has room for, to move it while it is walked.
    p->AddValueChangedListener([&](std::shared_ptr<Property> changed) {
        heard.calls.push_back("adder");
        for (int i = 0; i < 12; ++i)
            changed->AddValueChangedListener(heard.Listener("added", changed.get()));
        ++adds;
    });
    p->SetValue("1");
    EXPECT_EQ(heard.calls, std::vector<std::string>({"adder"}));
    heard.calls.clear();
    p->SetValue("2");
    ASSERT_EQ(heard.calls.size(), 13u);
    EXPECT_EQ(heard.calls.front(), "adder");
    EXPECT_EQ(std::count(heard.calls.begin(), heard.calls.end(), "added"), 12);
    EXPECT_EQ(adds, 2);
}

TEST(PropertyListeners, AKeyedListenerRemovedDuringANotificationIsNotCalledAgain) {
    struct Case {
        const char* what;
        const char* remover;  // the key of the listener that removes
        const char* removed;  // the key it removes
        std::vector<std::string> first;
        std::vector<std::string> second;
    };
    const Case cases[] = {
        {"itself", "b", "b", {"a", "b", "c"}, {"a", "c"}},
        {"a later one", "a", "c", {"a", "b"}, {"a", "b"}},
        {"an earlier one", "c", "a", {"a", "b", "c"}, {"b", "c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::shared_ptr<StringProperty> p = MakeString("0");
        std::vector<std::string> calls;
        for (const char* key : {"a", "b", "c"}) {
            const std::string k = key;
            const bool removes = k == c.remover;
            const std::string target = c.removed;
            // The capture makes the listener's state die with it, so that a
            // call after removal is a use of freed memory.
            std::shared_ptr<std::string> label = std::make_shared<std::string>(k);
            p->AddKeyedListener(k, [&calls, label, removes, target](std::shared_ptr<Property> q) {
                calls.push_back(*label);
                if (removes)
                    q->RemoveKeyedListener(target);
            });
        }
        p->SetValue("1");
        EXPECT_EQ(calls, c.first);
        calls.clear();
        p->SetValue("2");
        EXPECT_EQ(calls, c.second);
    }
}

TEST(PropertyListeners, TheLastKeyedListenerRemovingItselfLeavesNone) {
    std::shared_ptr<StringProperty> p = MakeString("0");
    int calls = 0;
    p->AddKeyedListener("only", [&](std::shared_ptr<Property> q) {
        ++calls;
        q->RemoveKeyedListener("only");
    });
    p->SetValue("1");
    p->SetValue("2");
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(p->AddKeyedListener("only", [&](std::shared_ptr<Property>) { calls += 10; }));
    p->SetValue("3");
    EXPECT_EQ(calls, 11);
}

TEST(PropertyListeners, APropertyStaysAliveUntilItsLastListenerReturned) {
    std::shared_ptr<StringProperty> owner = MakeString("old");
    std::weak_ptr<StringProperty> watch = owner;
    StringProperty* raw = owner.get();
    std::vector<std::string> calls;
    raw->AddValueChangedListener([&](std::shared_ptr<Property>) {
        calls.push_back("drops the owner");
        owner.reset();
    });
    raw->AddValueChangedListener(
        [&](std::shared_ptr<Property> q) { calls.push_back("reads " + q->ToString()); });
    raw->AddKeyedListener(
        "k", [&](std::shared_ptr<Property> q) { calls.push_back("keyed reads " + q->ToString()); });
    EXPECT_TRUE(raw->SetValue("new"));
    EXPECT_EQ(calls, std::vector<std::string>({"drops the owner", "reads new", "keyed reads new"}));
    EXPECT_TRUE(watch.expired());
}

TEST(PropertyListeners, AListenerMaySetThePropertyAgain) {
    std::shared_ptr<StringProperty> p = MakeString("x");
    std::vector<NString> seen;
    p->AddValueChangedListener([&](std::shared_ptr<Property> q) {
        StringProperty& s = static_cast<StringProperty&>(*q);
        seen.push_back(s.GetValue());
        s.SetValue("clamped");  // a second change, then none: the value is equal
    });
    p->SetValue("too long");
    EXPECT_EQ(seen, std::vector<NString>({"too long", "clamped"}));
    EXPECT_EQ(p->GetValue(), "clamped");
}

}  // namespace
