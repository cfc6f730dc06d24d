// Properties and the registry used from several threads at once; these also
// run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "properties/bool_property.h"
#include "properties/property_registry.h"
#include "properties/string_property.h"

namespace {

const int kThreads = 4;

// Runs body(i) on n threads released together; returns when all are done.
template <typename Body>
void RunTogether(int n, Body body) {
    std::atomic<int> ready(0);
    std::atomic<bool> go(false);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (!go)
                std::this_thread::yield();
            body(i);
        });
    }
    while (ready != n)
        std::this_thread::yield();
    go = true;
    for (auto& t : threads)
        t.join();
}

std::shared_ptr<StringProperty> MakeString(const NString& value) {
    return std::make_shared<StringProperty>(value, "ID", "Name", "GROUP", "Group");
}

TEST(PropertyThreadsListeners, EveryChangeFromConcurrentSettersReachesEveryListener) {
    const int kChanges = 300;
    std::shared_ptr<StringProperty> p = MakeString("start");
    std::atomic<int> plain(0), keyed(0), readable(0);
    p->AddValueChangedListener([&](std::shared_ptr<Property> q) {
        StringProperty& s = static_cast<StringProperty&>(*q);
        uint8_t buffer[32];
        if (!s.GetValue().empty() && !s.ToString().empty() && s.SaveValueToArray(buffer, 32) > 0)
            ++readable;
        ++plain;
    });
    p->AddKeyedListener("k", [&](std::shared_ptr<Property>) { ++keyed; });
    // Every text is set once: each call is a change.
    RunTogether(kThreads, [&](int t) {
        for (int i = 0; i < kChanges; ++i)
            p->SetValue("value " + std::to_string(t) + "-" + std::to_string(i));
    });
    EXPECT_EQ(plain.load(), kThreads * kChanges);
    EXPECT_EQ(keyed.load(), kThreads * kChanges);  // none skipped while another notifies
    EXPECT_EQ(readable.load(), kThreads * kChanges);
}

TEST(PropertyThreadsListeners, OfConcurrentSettersOfOneNewValueOnlyOneNotifies) {
    for (int round = 0; round < 50; ++round) {
        std::shared_ptr<StringProperty> s = MakeString("old");
        std::shared_ptr<BoolProperty> b =
            std::make_shared<BoolProperty>(false, "ID", "Name", "GROUP", "Group");
        std::atomic<int> stringCalls(0), boolCalls(0);
        s->AddValueChangedListener([&](std::shared_ptr<Property>) { ++stringCalls; });
        b->AddValueChangedListener([&](std::shared_ptr<Property>) { ++boolCalls; });
        RunTogether(kThreads, [&](int) {
            s->SetValue("new");
            b->SetValue(true);
        });
        ASSERT_EQ(stringCalls.load(), 1) << round;
        ASSERT_EQ(boolCalls.load(), 1) << round;
        EXPECT_EQ(s->GetValue(), "new");
        EXPECT_TRUE(b->GetValue());
    }
}

TEST(PropertyThreadsListeners, ListenersComeAndGoWhileOthersSet) {
    const int kAdded = 40;
    std::shared_ptr<StringProperty> p = MakeString("start");
    std::atomic<int> steady(0), changes(0);
    std::vector<std::unique_ptr<std::atomic<int> > > counts;
    for (int i = 0; i < kAdded; ++i)
        counts.emplace_back(new std::atomic<int>(0));
    p->AddKeyedListener("steady", [&](std::shared_ptr<Property>) { ++steady; });
    RunTogether(3, [&](int t) {
        if (t == 0) {
            for (int i = 0; i < kAdded; ++i) {
                std::atomic<int>* count = counts[i].get();
                p->AddValueChangedListener([count](std::shared_ptr<Property>) { ++*count; });
            }
        } else if (t == 1) {
            for (int i = 0; i < kAdded; ++i) {
                const std::string key = "passing " + std::to_string(i);
                p->AddKeyedListener(key, [](std::shared_ptr<Property>) {});
                p->RemoveKeyedListener(key);
            }
        } else {
            for (int i = 0; i < 500; ++i) {
                p->SetValue("value " + std::to_string(i));
                ++changes;
            }
        }
    });
    EXPECT_EQ(steady.load(), changes.load());
    p->SetValue("last");
    for (const auto& count : counts)
        EXPECT_GE(count->load(), 1);
    EXPECT_EQ(steady.load(), changes.load() + 1);
}

TEST(PropertyThreadsListeners, AListenerMayWaitForAThreadThatUsesTheProperty) {
    // No lock of the property is held while listeners run: a thread that the
    // listener waits for can read, set and subscribe.
    std::shared_ptr<StringProperty> p = MakeString("start");
    std::vector<NString> seen;
    auto waitForHelper = [&](std::shared_ptr<Property> q) {
        std::thread helper([&] {
            StringProperty& s = static_cast<StringProperty&>(*q);
            seen.push_back(s.GetValue());
            s.SetValueNoEvent(s.GetValue() + "!");
            s.AddKeyedListener("late", [](std::shared_ptr<Property>) {});
            s.RemoveKeyedListener("late");
        });
        helper.join();
    };
    p->AddValueChangedListener(waitForHelper);
    p->AddKeyedListener("k", waitForHelper);
    p->SetValue("new");
    EXPECT_EQ(seen, std::vector<NString>({"new", "new!"}));
    EXPECT_EQ(p->GetValue(), "new!!");
}

std::shared_ptr<Property> Make(const NString& id, const NString& groupId) {
    return std::make_shared<StringProperty>("", id, "", groupId, "");
}

TEST(PropertyThreadsRegistry, RegisterFindListAndRemoveFromSeveralThreads) {
    const int kEach = 100;
    PropertyRegistry registry;
    std::atomic<int> refused(0);
    // Each thread registers into its own group and a shared one, every key of
    // the shared group twice across threads, and reads meanwhile.
    RunTogether(kThreads, [&](int t) {
        const NString own = "G" + std::to_string(t);
        for (int i = 0; i < kEach; ++i) {
            registry.Register(Make(std::to_string(i), own));
            if (!registry.Register(
                    Make(std::to_string(i % (kEach / 2)) + "-" + std::to_string(t % 2), "SHARED")))
                ++refused;
            EXPECT_NE(registry.Find(std::to_string(i), own), nullptr);
            PropertyList all;
            registry.ListAll(all);
            std::vector<NString> groups;
            registry.ListGroups(groups);
        }
    });
    PropertyList shared;
    registry.ListGroup(shared, "SHARED");
    EXPECT_EQ(shared.size(), static_cast<size_t>(kEach));
    EXPECT_EQ(refused.load(), kThreads * kEach - kEach);
    PropertyList all;
    registry.ListAll(all);
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach + kEach));

    // Half the threads remove their properties one by one, the others their
    // whole group, while the shared group is listed.
    RunTogether(kThreads, [&](int t) {
        const NString own = "G" + std::to_string(t);
        if (t % 2 == 0) {
            for (int i = 0; i < kEach; ++i)
                registry.Unregister(own + ":" + std::to_string(i));
        } else {
            registry.UnregisterGroup(own + ":");
        }
        PropertyList list;
        registry.ListGroup(list, "SHARED");
        EXPECT_EQ(list.size(), static_cast<size_t>(kEach));
    });
    all.clear();
    registry.ListAll(all);
    EXPECT_EQ(all.size(), static_cast<size_t>(kEach));
    std::vector<NString> groups;
    registry.ListGroups(groups);
    EXPECT_EQ(groups, std::vector<NString>({"G0", "G2", "SHARED"}));
}

// Runs a routine on another thread when it is destroyed and waits for it.
struct JoinsOnDestruction {
    std::function<void()> routine;
    ~JoinsOnDestruction() {
        std::thread other(routine);
        other.join();
    }
};

TEST(PropertyThreadsRegistry, APropertyReleasedByARemovalDiesOutsideTheRegistrysLocks) {
    for (bool wholeGroup : {false, true}) {
        SCOPED_TRACE(wholeGroup ? "UnregisterGroup" : "Unregister");
        PropertyRegistry registry;
        registry.Register(Make("KEPT", "G"));
        std::shared_ptr<Property> doomed = Make("GONE", "G");
        registry.Register(doomed);
        std::atomic<bool> found(false);
        // The listener's capture dies with the property and then asks the
        // registry from another thread, which waits if a lock is still held.
        std::shared_ptr<JoinsOnDestruction> capture = std::make_shared<JoinsOnDestruction>();
        capture->routine = [&] { found = registry.Find("KEPT", "G") != nullptr; };
        doomed->AddValueChangedListener([capture](std::shared_ptr<Property>) {});
        capture.reset();
        doomed.reset();
        if (wholeGroup)
            registry.UnregisterGroup("G:");
        else
            registry.Unregister("G:GONE");
        EXPECT_EQ(found.load(), !wholeGroup);
    }
}

}  // namespace
