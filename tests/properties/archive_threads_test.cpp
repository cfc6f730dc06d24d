// The archive under several threads: changes, saves and backups at once, and
// two archives merged into each other. Also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fileutil/md5.h"
#include "properties/archive_fixture.h"

namespace {

using fwtest::ArchiveTest;
using fwtest::MakeString;

class ArchiveThreads : public ArchiveTest {};

TEST_F(ArchiveThreads, ChangesFromManyThreadsWithBackupsAllReachTheFile) {
    const int kThreads = 4;
    const int kChanges = 40;
    std::vector<std::shared_ptr<StringProperty>> properties;
    for (int t = 0; t < kThreads; ++t)
        properties.push_back(MakeString("", "id-" + std::to_string(t), "group"));
    {
        auto archive = NewArchive();
        std::atomic<bool> done(false);
        std::atomic<int> backups(0);
        std::thread backer([&] {
            while (!done.load()) {
                if (archive->Backup())
                    backups.fetch_add(1);
            }
        });
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&, t] {
                for (int i = 0; i < kChanges; ++i) {
                    properties[t]->SetValue(std::to_string(i));
                    archive->StoreProperty(properties[t]);
                    NString text;
                    archive->GetPropertyValue(properties[t], text);
                    EXPECT_EQ(text, std::to_string(i));
                }
            });
        }
        for (std::thread& writer : writers)
            writer.join();
        done.store(true);
        backer.join();
        EXPECT_TRUE(archive->Backup());
    }
    // Every last value is on file, and the backup pair is whole and equal to it.
    auto archive = NewArchive();
    ASSERT_TRUE(archive->Load());
    for (int t = 0; t < kThreads; ++t) {
        NString text;
        ASSERT_TRUE(archive->GetPropertyValue(properties[t], text));
        EXPECT_EQ(text, std::to_string(kChanges - 1));
    }
    EXPECT_EQ(device_.Read(std::string(kFile) + ".bak"), device_.Read(kFile));
    EXPECT_TRUE(
        VerifyWithSidecar(u"/Store/Properties.json.bak", u"/Store/Properties.json.MD5.bak"));
}

TEST_F(ArchiveThreads, TwoArchivesMergedIntoEachOtherAtOnce) {
    auto first = NewArchive();
    auto second = NewArchive(u"/Store/Second.json");
    for (int i = 0; i < 20; ++i) {
        first->AddEntry("id" + std::to_string(i), "g", "", "", "first");
        second->AddEntry("id" + std::to_string(i), "g", "", "", "second");
    }
    std::thread one([&] {
        for (int i = 0; i < 50; ++i)
            first->MergeFrom(*second);
    });
    std::thread two([&] {
        for (int i = 0; i < 50; ++i)
            second->MergeFrom(*first);
    });
    one.join();
    two.join();
    // No deadlock and no race; each entry holds one of the two values.
    for (int i = 0; i < 20; ++i) {
        NString a, b;
        auto p = MakeString("", "id" + std::to_string(i), "g");
        ASSERT_TRUE(first->GetPropertyValue(p, a));
        ASSERT_TRUE(second->GetPropertyValue(p, b));
        EXPECT_TRUE(a == "first" || a == "second") << a;
        EXPECT_TRUE(b == "first" || b == "second") << b;
    }
    EXPECT_TRUE(first->WaitForSaves());
    EXPECT_TRUE(second->WaitForSaves());
}

}  // namespace
