// The writing side of the progress channel, against the host's named objects
// under DEVICE/hw/named/.
#include "setup/progress_channel.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "platform/named_objects.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;

const size_t kSize = 444;

class ProgressChannel : public testing::Test {
  protected:
    fs::path Named() const { return device_.Hw() / "named"; }
    fs::path Memory() const { return Named() / "Global" / "UPGRADE_SHARED_MEMORY"; }

    std::vector<uint8_t> ReadMemory() const {
        std::ifstream in(Memory(), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
    }
    void WriteMemory(const std::vector<uint8_t>& bytes) const {
        fs::create_directories(Memory().parent_path());
        std::ofstream(Memory(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    fwtest::TempDevice device_;
};

// A 444-byte block in which every byte but the index holds a pattern.
std::vector<uint8_t> Patterned(uint8_t index) {
    std::vector<uint8_t> bytes(kSize);
    for (size_t i = 0; i < kSize; ++i)
        bytes[i] = static_cast<uint8_t>(0xA0 + i % 7);
    bytes[0] = index;
    return bytes;
}

TEST_F(ProgressChannel, CodeLandsAtTheIndexAndTheIndexMovesOn) {
    const struct {
        uint8_t index;
        size_t offset;
        uint8_t next;
    } cases[] = {
        {0, 1, 1},
        {7, 8, 8},
        {24, 25, 0},
        // A stray index is trusted and counts on until it wraps at 256.
        {25, 26, 26},
        {200, 201, 201},
        {255, 256, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.index));
        WriteMemory(Patterned(c.index));
        SetUpgradeError(SetupStepFailed);
        std::vector<uint8_t> expected = Patterned(c.next);
        expected[c.offset] = 27;
        EXPECT_EQ(ReadMemory(), expected);
    }
}

TEST_F(ProgressChannel, FirstWriteCreatesTheBlockAndTheTwentySixthOverwritesTheFirst) {
    SetUpgradeError(SetupStepFailed);
    std::vector<uint8_t> expected(kSize, 0);
    expected[0] = 1;
    expected[1] = 27;
    EXPECT_EQ(ReadMemory(), expected);

    // 25 more writes with codes 1..25: the ring holds 25 codes, so the last
    // one lands in slot 0 again.
    for (int code = 1; code <= 25; ++code)
        SetUpgradeError(static_cast<UpgradeProgressMsg>(code));
    const std::vector<uint8_t> memory = ReadMemory();
    ASSERT_EQ(memory.size(), kSize);
    EXPECT_EQ(memory[0], 1);
    EXPECT_EQ(memory[1], 25);
    for (int slot = 1; slot < 25; ++slot)
        EXPECT_EQ(memory[slot + 1], slot) << slot;
    EXPECT_EQ(memory[26], 0);
}

TEST_F(ProgressChannel, WritesNothingWithoutTheMappingOrTheMutex) {
    // The mutex cannot be had: the mapping exists, but nothing is written.
    WriteMemory(Patterned(3));
    fs::create_directories(Named() / "Global" / "UPGRADE_SHMEM_MUTEX");
    SetUpgradeError(SetupStepFailed);
    EXPECT_EQ(ReadMemory(), Patterned(3));

    // The mapping cannot be had: nothing is made.
    fwtest::RemoveTree(Named());
    std::ofstream(Named()) << "not a folder";
    SetUpgradeError(SetupStepFailed);
    EXPECT_TRUE(fs::is_regular_file(Named()));
}

TEST_F(ProgressChannel, WriterWaitsForTheMutex) {
    std::unique_ptr<platform::NamedMutex> mutex =
        platform::CreateMutex(u"Global\\UPGRADE_SHMEM_MUTEX");
    ASSERT_TRUE(mutex);
    ASSERT_TRUE(mutex->Wait());
    WriteMemory(Patterned(0));
    std::thread writer([] { SetUpgradeError(SetupStepFailed); });
    usleep(200 * 1000);  // give the writer time to get as far as the mutex
    EXPECT_EQ(ReadMemory(), Patterned(0));
    EXPECT_TRUE(mutex->Release());
    writer.join();
    EXPECT_EQ(ReadMemory()[1], 27);
}

// The ways in which no upgrade UI serves the event.
enum class NoUi { kNeverRan, kClosedItsEvent, kDied };

TEST_F(ProgressChannel, WithoutUiNotifyReturnsAndTouchesNothing) {
    for (NoUi how : {NoUi::kNeverRan, NoUi::kClosedItsEvent, NoUi::kDied}) {
        SCOPED_TRACE(static_cast<int>(how));
        fwtest::RemoveTree(Named());
        if (how == NoUi::kClosedItsEvent) {
            ASSERT_TRUE(platform::CreateEvent(u"Global\\UPGRADE_UI_EVENT"));
        } else if (how == NoUi::kDied) {
            const pid_t ui = fork();
            ASSERT_GE(ui, 0);
            if (ui == 0) {
                // A UI that dies while its event is open.
                std::unique_ptr<platform::NamedEvent> event =
                    platform::CreateEvent(u"Global\\UPGRADE_UI_EVENT");
                if (event)
                    kill(getpid(), SIGKILL);
                _exit(1);
            }
            int status = 0;
            ASSERT_EQ(waitpid(ui, &status, 0), ui);
            ASSERT_TRUE(WIFSIGNALED(status));
        }
        NotifyUpgradeUI(SetupStepFailed);
        EXPECT_FALSE(fs::exists(Memory()));
        EXPECT_FALSE(fs::exists(Named() / "Global" / "UPGRADE_SHMEM_MUTEX"));
        if (how == NoUi::kNeverRan) {
            EXPECT_FALSE(fs::exists(Named()));
        }
    }
}

TEST_F(ProgressChannel, WithUiNotifyWritesWakesTheUiAndNeverReturns) {
    std::unique_ptr<platform::NamedEvent> uiEvent =
        platform::CreateEvent(u"Global\\UPGRADE_UI_EVENT");
    ASSERT_TRUE(uiEvent);
    const pid_t setup = fork();
    ASSERT_GE(setup, 0);
    if (setup == 0) {
        NotifyUpgradeUI(SetupStepFailed);
        _exit(0);  // only reached if the call returned
    }
    const bool woken = uiEvent->Wait(60 * 1000);
    const std::vector<uint8_t> memory = ReadMemory();
    // The caller must still be halted a while after the wake-up.
    pid_t ended = 0;
    int status = 0;
    for (int i = 0; i < 30 && ended == 0; ++i) {
        usleep(10 * 1000);
        ended = waitpid(setup, &status, WNOHANG);
    }
    if (ended == 0) {
        kill(setup, SIGKILL);
        waitpid(setup, &status, 0);
    }
    EXPECT_TRUE(woken);
    EXPECT_EQ(ended, 0) << "NotifyUpgradeUI returned";
    ASSERT_EQ(memory.size(), kSize);
    EXPECT_EQ(memory[0], 1);
    EXPECT_EQ(memory[1], 27);
}

}  // namespace
