// The history file across processes, and where it lives on POSIX systems.
#include "tests/update/history_fixture.h"

#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace meterload::testing {
namespace {

TEST_F(HistoryTest, ConcurrentAppendsFromThreadsAndProcessesNeitherMixNorLose)
{
    const auto writeFrom = [this](const std::string& who) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([this, who, t] { WriteSome(who + std::to_string(t)); });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        writeFrom("CHILD");
        _exit(0);
    }
    writeFrom("PARENT");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ExpectAllWhole(8);
}

TEST(HistoryPathTest, ChosenByTheEnvironment)
{
    struct Case {
        const char* history;
        const char* state;
        const char* home;
        const char* path;
    };
    const Case cases[] = {
        {"/h/x.jsonl", "/s", "/home/u", "/h/x.jsonl"},
        {nullptr, "/s", "/home/u", "/s/meterload/history.jsonl"},
        {nullptr, "relative", "/home/u", "/home/u/.local/state/meterload/history.jsonl"},
        {"", nullptr, "/home/u", "/home/u/.local/state/meterload/history.jsonl"},
        {nullptr, nullptr, nullptr, ""},
    };
    const auto set = [](const char* name, const char* value) {
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    };
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    for (const Case& c : cases) {
        set("METERLOAD_HISTORY", c.history);
        set("XDG_STATE_HOME", c.state);
        set("HOME", c.home);
        EXPECT_EQ(HistoryPath(), c.path);
    }
    unsetenv("METERLOAD_HISTORY");
    unsetenv("XDG_STATE_HOME");
    setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace meterload::testing
