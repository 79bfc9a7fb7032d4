// The table that turns a reason into every result: each reason has a row of
// its own, keys that files and scripts can keep, and results whose words and
// exit codes never disagree from one row to another.
#include "update/stop_reasons.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace meterload {
namespace {

// Every enumerator, in order; the count below breaks when one is added.
std::vector<StopReason> AllReasons()
{
    std::vector<StopReason> reasons;
    for (int i = 0; i <= static_cast<int>(StopReason::ReplyMissing); ++i) {
        reasons.push_back(static_cast<StopReason>(i));
    }
    return reasons;
}

TEST(StopReasonTable, EveryReasonHasItsOwnNameAndKey)
{
    const std::vector<StopReason> reasons = AllReasons();
    ASSERT_EQ(reasons.size(), 18u) << "a new reason needs a row and a test that drives an update into it";
    std::set<std::string> names;
    std::set<std::string> keys;
    for (const StopReason reason : reasons) {
        const StopReasonFacts& facts = FactsOf(reason);
        std::ostringstream printed;
        printed << reason;
        EXPECT_EQ(printed.str(), facts.name);
        EXPECT_TRUE(names.insert(facts.name).second) << facts.name;
        EXPECT_TRUE(keys.insert(facts.key).second) << facts.key;
        EXPECT_TRUE(std::regex_match(std::string(facts.key), std::regex("[a-z0-9]+(_[a-z0-9]+)*"))) << facts.key;
        EXPECT_NE(std::string(facts.key), "unknown");
    }
}

// One word means one exit code, whichever reason led to it; and only a
// finished update is "done" in the history.
TEST(StopReasonTable, AResultMeansTheSameWhereverItComesFrom)
{
    std::map<InstallResult, ExitCode> codes;
    for (const StopReason reason : AllReasons()) {
        const StopReasonFacts& facts = FactsOf(reason);
        for (const Verdict& verdict : {facts.beforeUpdateMode, facts.inUpdateMode}) {
            const auto [kept, added] = codes.emplace(verdict.result, verdict.code);
            EXPECT_EQ(kept->second, verdict.code) << facts.name << ": " << InstallResultText(verdict.result);
            EXPECT_EQ(verdict.history == HistoryResult::Done, reason == StopReason::None) << facts.name;
            EXPECT_EQ(verdict.code == kDone, reason == StopReason::None) << facts.name;
        }
    }
}

}  // namespace
}  // namespace meterload
