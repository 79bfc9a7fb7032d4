// One instrument's install run in process: whatever throws during it is
// reported by where the instrument was left, so that one left in update mode
// is told to be power-cycled (exit code 1) and one untouched is not.
#include "cli/console.h"
#include "cli/install_run.h"
#include "tests/support/package_builder.h"
#include "tests/support/sim_instrument.h"
#include "update/exit_codes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace meterload::testing {
namespace {

using namespace meterload::cli;

struct ThrowCase {
    const char* name;
    bool inPlan;  // throws while the say before update mode is made; else once update mode was entered
    int code;
    bool entered;
};

std::ostream& operator<<(std::ostream& out, const ThrowCase& c)
{
    return out << c.name;
}

class InstallThrowTest : public ::testing::TestWithParam<ThrowCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.Loaded());
        ASSERT_TRUE(sim.Configure("serials=ABC123\n"));
        ImageSpec image;
        image.bodySize = 1000;
        path = sim.Directory() + "/main.bin";
        const Bytes bytes = ImageBytes(image);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    SimInstrument sim;
    std::string path;
};

TEST_P(InstallThrowTest, TheExitCodeFollowsWhereTheInstrumentWasLeft)
{
    const ThrowCase& c = GetParam();
    const FileFacts facts = ReadFileFacts(path);
    const InstallSettings settings{facts, false, true, sim.LibraryPath(), sim.Directory() + "/history.jsonl"};
    const auto fail = [](const std::string&) { throw std::runtime_error("the console went away"); };
    const auto quiet = [](const std::string&) {};
    const auto say = [&](const std::string& line) {
        if (!c.inPlan && line.find("is in update mode") != std::string::npos) {
            fail(line);
        }
    };
    const InstallHooks hooks{say, c.inPlan ? std::function<void(const std::string&)>(fail) : quiet,
                             [] { return true; }};
    Progress progress(TheConsole(), false, SentSizes(facts));

    const InstallOutcome outcome =
        InstallOn(FoundInstrument{"USB0::0x1D47::0x0B62::ABC123::INSTR", "ABC123"}, settings, hooks, progress);
    EXPECT_EQ(outcome.result, InstallResult::Failed);
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(outcome.updateModeEntered, c.entered);
    EXPECT_EQ(outcome.message, "the console went away");
}

INSTANTIATE_TEST_SUITE_P(Points, InstallThrowTest,
                         ::testing::Values(ThrowCase{"BeforeUpdateMode", true, kInstrumentFault, false},
                                           ThrowCase{"AfterUpdateMode", false, kUpdateFailed, true}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace meterload::testing
