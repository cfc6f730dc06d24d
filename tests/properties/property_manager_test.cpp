// PropertyManager: the built-in properties, the loading error, stored values
// taken by added properties and changes written back, and the removal worker.
#include "properties/property_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "fileutil/string_operation.h"
#include "properties/archive_fixture.h"
#include "properties/bool_property.h"
#include "properties/property_catalogue.h"

namespace {

using fwtest::ArchiveImage;
using fwtest::ArchiveTest;
using fwtest::EntryJson;
using fwtest::MakeString;
namespace pc = PropertyCatalogue;

std::string Doc(const std::string& entries) {
    return "{\"Properties\":[" + entries + "]}";
}

class PropertyManagerTest : public ArchiveTest {
  protected:
    std::unique_ptr<PropertyManager> NewManager() {
        return std::unique_ptr<PropertyManager>(new PropertyManager(
            factory_, 251, 253, u"/Store/Properties.ini", u"/Store/PropertiesOverride.ini"));
    }
    ino_t ArchiveInode() const {
        struct stat st;
        return stat(device_.Host(kFile).c_str(), &st) == 0 ? st.st_ino : 0;
    }
};

TEST_F(PropertyManagerTest, BuiltInsOnAPrinterWithoutPropertyFiles) {
    auto manager = NewManager();
    const std::shared_ptr<Property> error =
        manager->Find(pc::kPropertyLoadingErrorId, pc::kErrorGroupId);
    ASSERT_TRUE(error);
    EXPECT_EQ(error, manager->LoadingError());
    EXPECT_EQ(error->ToString(), "True");
    EXPECT_EQ(error->Name(), "Property Loading Error");
    EXPECT_EQ(error->GroupName(), "Error");
    PropertyList general;
    manager->ListGroup(general, pc::kGeneralGroupId);
    ASSERT_EQ(general.size(), 2u);
    EXPECT_EQ(general[0], manager->PropertyFileName());
    EXPECT_EQ(general[1], manager->OverrideFileName());
    EXPECT_EQ(general[0]->ToString(), "/Store/Properties.ini");
    EXPECT_EQ(general[1]->ToString(), "/Store/PropertiesOverride.ini");
    EXPECT_EQ(general[0]->Id(), "CD31503F-4949-40E1-BA2C-B2A88CF420F0");
    EXPECT_EQ(general[1]->Id(), "C8B8886D-A101-47A9-BC60-477938C53648");
    std::vector<NString> groups;
    manager->ListGroups(groups);
    EXPECT_EQ(groups, (std::vector<NString>{pc::kErrorGroupId, pc::kGeneralGroupId}));
    manager.reset();
    // Nothing changed, so nothing was written.
    EXPECT_TRUE(StoreFiles().empty());
}

TEST_F(PropertyManagerTest, StoredValuesWinOverInitialOnesExceptForTheLoadingError) {
    WriteArchive(
        Doc(EntryJson(pc::kNameOfPropertyFileId, "", pc::kGeneralGroupId, "", "stored name") + "," +
            EntryJson(pc::kPropertyLoadingErrorId, "", pc::kErrorGroupId, "", "stored")));
    auto manager = NewManager();
    EXPECT_EQ(manager->LoadingError()->ToString(), "False");  // the load's result, not "stored"
    EXPECT_EQ(manager->PropertyFileName()->ToString(), "stored name");
    EXPECT_EQ(manager->OverrideFileName()->ToString(), "/Store/PropertiesOverride.ini");
    // The loading error has no archive listener.
    std::static_pointer_cast<BoolProperty>(manager->LoadingError())->SetValue(true);
    EXPECT_TRUE(manager->Store().MainArchive().WaitForSaves());
    NString text;
    manager->Store().MainArchive().GetPropertyValue(manager->LoadingError(), text);
    EXPECT_EQ(text, "stored");
}

TEST_F(PropertyManagerTest, AnAddedPropertyTakesItsStoredValueAndSavesItsChanges) {
    WriteArchive(Doc(EntryJson("id", "N", "g", "G", "stored")));
    const ino_t before = ArchiveInode();
    {
        auto manager = NewManager();
        auto property = MakeString("initial", "id", "g");
        int heard = 0;
        property->AddValueChangedListener([&](std::shared_ptr<Property>) { ++heard; });
        ASSERT_TRUE(manager->AddProperty(property));
        EXPECT_EQ(property->GetValue(), "stored");
        EXPECT_EQ(heard, 0);
        // The same value: nothing to save.
        property->SetValue("stored");
        EXPECT_TRUE(manager->Store().MainArchive().WaitForSaves());
        EXPECT_EQ(ArchiveInode(), before);
        // A second property under the same key is refused and not subscribed.
        auto twin = MakeString("twin", "id", "g");
        EXPECT_FALSE(manager->AddProperty(twin));
        EXPECT_EQ(twin->GetValue(), "twin");
        twin->SetValue("not saved");
        // The same id in another group is another property.
        EXPECT_TRUE(manager->AddProperty(MakeString("other", "id", "h")));
        property->SetValue("changed");
        EXPECT_EQ(heard, 1);
    }
    EXPECT_EQ(device_.Read(kFile), ArchiveImage(Doc(EntryJson("id", "N", "g", "G", "changed"))));
}

TEST_F(PropertyManagerTest, RemovalsWaitForTheWorkerThatNothingStarts) {
    auto manager = NewManager();
    auto property = MakeString("", "id", "g");
    ASSERT_TRUE(manager->AddProperty(property));
    EXPECT_FALSE(manager->Worker().IsStarted());
    manager->RemoveProperty(property, nullptr);
    manager->RemoveProperty(nullptr, nullptr);
    EXPECT_TRUE(manager->Find("id", "g"));
    EXPECT_FALSE(manager->Discard(property));
}

class ManagerThreads : public PropertyManagerTest {};

TEST_F(ManagerThreads, TheWorkerCarriesOutRemovalsOnceStarted) {
    auto manager = NewManager();
    auto a = MakeString("", "a", "g");
    auto b = MakeString("", "b", "g");
    ASSERT_TRUE(manager->AddProperty(a));
    ASSERT_TRUE(manager->AddProperty(b));
    manager->Worker().Start(manager.get(), "worker");
    std::shared_ptr<EventFlags> done(WecEventFlags::Create(false).release());
    manager->RemoveProperty(a, done);
    done->WaitAny(1);
    EXPECT_FALSE(manager->Find("a", "g"));
    EXPECT_TRUE(manager->Find("b", "g"));
    done->Clear(1);
    manager->RemoveGroup(pc::kGeneralGroupId, done);
    done->WaitAny(1);
    EXPECT_FALSE(manager->Find(pc::kNameOfPropertyFileId, pc::kGeneralGroupId));
    std::vector<NString> groups;
    manager->ListGroups(groups);
    EXPECT_EQ(groups, (std::vector<NString>{pc::kErrorGroupId, "g"}));
    // Destruction stops the running worker.
}

}  // namespace
