// The margin by which the real clocks stop sleeping before a deadline: it
// follows how late the system wakes them, within its bounds.
#include "platform/clock_margin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

namespace meterload {
namespace {

using namespace std::chrono_literals;
using std::chrono::microseconds;

TEST(WakeMarginTest, RisesAfterLateWakeUpsAndSinksAfterEarlyOnesWithinItsBounds)
{
    WakeMargin margin;
    EXPECT_EQ(margin.Get(), WakeMargin::kInitial);

    margin.Observe(WakeMargin::kInitial + 1us);
    const microseconds raised = margin.Get();
    EXPECT_GT(raised, WakeMargin::kInitial);
    margin.Observe(0us);
    EXPECT_LT(margin.Get(), raised);

    // A timer that wakes 10 ms late is not what the margin is for.
    for (int i = 0; i < 10000; ++i) {
        margin.Observe(10ms);
    }
    EXPECT_EQ(margin.Get(), WakeMargin::kMost);
    for (int i = 0; i < 10000; ++i) {
        margin.Observe(0us);
    }
    EXPECT_EQ(margin.Get(), WakeMargin::kLeast);
}

struct Spread {
    const char* name;
    microseconds least;
    microseconds most;
};

std::ostream& operator<<(std::ostream& out, const Spread& spread)
{
    return out << spread.name;
}

class WakeMarginSpreadTest : public ::testing::TestWithParam<Spread> {};

// Four wake-ups in five come within the margin, from wherever it starts.
TEST_P(WakeMarginSpreadTest, SettlesWhereOneWakeUpInFiveIsLater)
{
    const Spread& spread = GetParam();
    std::vector<microseconds> lateness;
    for (int i = 0; i < 50; ++i) {
        lateness.push_back(spread.least + (spread.most - spread.least) * ((i * 37) % 50) / 49);
    }
    std::vector<microseconds> sorted = lateness;
    std::sort(sorted.begin(), sorted.end());

    WakeMargin margin;
    for (int round = 0; round < 400; ++round) {
        for (const microseconds late : lateness) {
            margin.Observe(late);
        }
    }
    EXPECT_GE(margin.Get(), sorted[35] - 20us) << spread.name;
    EXPECT_LE(margin.Get(), sorted[45] + 20us) << spread.name;
}

INSTANTIATE_TEST_SUITE_P(Timers, WakeMarginSpreadTest,
                         ::testing::Values(Spread{"SharpLinux", 40us, 90us}, Spread{"Wine", 100us, 600us},
                                           Spread{"WindowsMillisecond", 0us, 1000us}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace meterload
