#include "properties/property_registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "properties/string_property.h"

namespace {

std::shared_ptr<Property> Make(const NString& id, const NString& groupId) {
    return std::make_shared<StringProperty>("value of " + id, id, "name of " + id, groupId,
                                            "name of " + groupId);
}

// "groupId/id" of each property, in list order.
std::vector<std::string> Names(const PropertyList& list) {
    std::vector<std::string> names;
    for (const auto& p : list)
        names.push_back(p->GroupId() + "/" + p->Id());
    return names;
}

std::vector<std::string> All(const PropertyRegistry& registry) {
    PropertyList out;
    registry.ListAll(out);
    return Names(out);
}

std::vector<std::string> Group(const PropertyRegistry& registry, const NString& groupId) {
    PropertyList out;
    registry.ListGroup(out, groupId);
    return Names(out);
}

std::vector<NString> Groups(const PropertyRegistry& registry) {
    std::vector<NString> out;
    registry.ListGroups(out);
    return out;
}

TEST(PropertyRegistry, RegisterRefusesTakenKeysAndKeysThatCannotNameTheProperty) {
    const struct {
        const char* what;
        NString id;
        NString groupId;
        bool registered;
    } cases[] = {
        {"same id and group", "A", "G1", false},
        {"same id, other group", "A", "G2", true},
        {"other id, same group", "B", "G1", true},
        {"id differing in case only", "a", "G1", true},
        {"empty group id", "A", "", true},
        {"id holding a colon", "A:B", "G1", true},
        {"empty id", "", "G1", false},
        {"group id holding a colon", "C", "G:1", false},
        {"empty group id, id holding a colon", "G1:A", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PropertyRegistry registry;
        ASSERT_TRUE(registry.Register(Make("A", "G1")));
        const std::vector<std::string> allBefore = All(registry);
        const std::vector<NString> groupsBefore = Groups(registry);
        std::shared_ptr<Property> p = Make(c.id, c.groupId);
        EXPECT_EQ(registry.Register(p), c.registered);
        if (c.registered) {
            EXPECT_EQ(registry.Find(c.id, c.groupId), p);
        } else {
            EXPECT_EQ(All(registry), allBefore);
            EXPECT_EQ(Group(registry, c.groupId).size(), c.groupId == "G1" ? 1u : 0u);
            EXPECT_EQ(Groups(registry), groupsBefore);
        }
        EXPECT_EQ(registry.Find("A", "G1")->Id(), "A");
    }
    PropertyRegistry registry;
    EXPECT_FALSE(registry.Register(std::shared_ptr<Property>()));
    EXPECT_TRUE(Groups(registry).empty());
}

TEST(PropertyRegistry, FindMatchesIdAndGroupByteForByte) {
    PropertyRegistry registry;
    std::shared_ptr<Property> p = Make("ID", "GROUP");
    std::shared_ptr<Property> loose = Make("ID", "");
    ASSERT_TRUE(registry.Register(p));
    ASSERT_TRUE(registry.Register(loose));
    EXPECT_EQ(registry.Find("ID", "GROUP"), p);
    EXPECT_EQ(registry.Find("ID", ""), loose);
    EXPECT_EQ(registry.Find("id", "GROUP"), nullptr);
    EXPECT_EQ(registry.Find("ID", "group"), nullptr);
    EXPECT_EQ(registry.Find("ID", "OTHER"), nullptr);
    EXPECT_EQ(registry.Find("", "GROUP"), nullptr);  // would be the group key
    EXPECT_EQ(registry.Find("", ""), nullptr);
}

TEST(PropertyRegistry, ListsGroupsInRegistrationOrderAndEverythingOnceInKeyOrder) {
    PropertyRegistry registry;
    registry.Register(Make("Z", "G2"));
    registry.Register(Make("A", "G2"));
    registry.Register(Make("M", "G1"));
    registry.Register(Make("L", ""));
    EXPECT_EQ(Group(registry, "G2"), std::vector<std::string>({"G2/Z", "G2/A"}));
    EXPECT_EQ(Group(registry, "G1"), std::vector<std::string>({"G1/M"}));
    EXPECT_EQ(Group(registry, ""), std::vector<std::string>({"/L"}));
    EXPECT_TRUE(Group(registry, "G3").empty());
    // Keys: "G1:M", "G2:A", "G2:Z", "L".
    EXPECT_EQ(All(registry), std::vector<std::string>({"G1/M", "G2/A", "G2/Z", "/L"}));
    EXPECT_EQ(Groups(registry), std::vector<NString>({"", "G1", "G2"}));
}

TEST(PropertyRegistry, ListsAppendToWhatTheCallerHas) {
    PropertyRegistry registry;
    registry.Register(Make("A", "G"));
    std::shared_ptr<Property> mine = Make("MINE", "X");
    PropertyList list{mine};
    registry.ListAll(list);
    registry.ListGroup(list, "G");
    EXPECT_EQ(Names(list), std::vector<std::string>({"X/MINE", "G/A", "G/A"}));
    std::vector<NString> groups{"first"};
    registry.ListGroups(groups);
    EXPECT_EQ(groups, std::vector<NString>({"first", "G"}));
}

TEST(PropertyRegistry, UnregisterRemovesOnePropertyAndKeepsItsGroupListed) {
    PropertyRegistry registry;
    std::shared_ptr<Property> a = Make("A", "G");
    registry.Register(a);
    registry.Register(Make("B", "G"));
    registry.Register(Make("A", "H"));
    std::weak_ptr<Property> watch = a;
    a.reset();

    registry.Unregister("G:A");
    EXPECT_TRUE(watch.expired());  // neither entry holds it any more
    EXPECT_EQ(registry.Find("A", "G"), nullptr);
    EXPECT_EQ(Group(registry, "G"), std::vector<std::string>({"G/B"}));
    EXPECT_EQ(All(registry), std::vector<std::string>({"G/B", "H/A"}));
    EXPECT_EQ(Groups(registry), std::vector<NString>({"G", "H"}));

    registry.Unregister("G:B");
    EXPECT_TRUE(Group(registry, "G").empty());
    EXPECT_EQ(Groups(registry), std::vector<NString>({"G", "H"}));
    EXPECT_TRUE(registry.Register(Make("A", "G")));  // the key is free again
}

TEST(PropertyRegistry, UnregisterOfAGroupKeyOrAnUnknownKeyChangesNothing) {
    for (const NString& key :
         {NString("G:"), NString("G:C"), NString("A"), NString(""), NString("H:A")}) {
        SCOPED_TRACE(key);
        PropertyRegistry registry;
        registry.Register(Make("A", "G"));
        registry.Register(Make("B", "G"));
        registry.Register(Make("B", ""));
        registry.Unregister(key);
        EXPECT_EQ(All(registry), std::vector<std::string>({"/B", "G/A", "G/B"}));  // key order
        EXPECT_EQ(Group(registry, "G"), std::vector<std::string>({"G/A", "G/B"}));
        EXPECT_EQ(Group(registry, ""), std::vector<std::string>({"/B"}));
    }
}

TEST(PropertyRegistry, UnregisterGroupRemovesTheGroupAndAllItsProperties) {
    PropertyRegistry registry;
    std::shared_ptr<Property> a = Make("A", "G");
    registry.Register(a);
    registry.Register(Make("B", "G"));
    registry.Register(Make("A", "H"));
    registry.Register(Make("C", ""));
    std::weak_ptr<Property> watch = a;
    a.reset();

    registry.UnregisterGroup("G:");
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(Group(registry, "G").empty());
    EXPECT_EQ(registry.Find("B", "G"), nullptr);
    EXPECT_EQ(All(registry), std::vector<std::string>({"/C", "H/A"}));
    EXPECT_EQ(Groups(registry), std::vector<NString>({"", "H"}));

    registry.UnregisterGroup("");  // the group key of the empty group id
    EXPECT_EQ(All(registry), std::vector<std::string>({"H/A"}));
    EXPECT_EQ(Groups(registry), std::vector<NString>({"H"}));

    registry.UnregisterGroup("NONE:");
    EXPECT_EQ(All(registry), std::vector<std::string>({"H/A"}));
    EXPECT_TRUE(registry.Register(Make("A", "G")));
    EXPECT_EQ(Groups(registry), std::vector<NString>({"G", "H"}));
}

TEST(PropertyRegistry, UnregisterGroupRemovesAGroupThatHasNoPropertiesLeft) {
    PropertyRegistry registry;
    registry.Register(Make("A", "G"));
    registry.Unregister("G:A");
    EXPECT_EQ(Groups(registry), std::vector<NString>({"G"}));
    registry.UnregisterGroup("G:");
    EXPECT_TRUE(Groups(registry).empty());
}

}  // namespace
