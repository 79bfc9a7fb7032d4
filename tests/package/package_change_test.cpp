// A package that changes after it was checked: a chunk the file can no longer
// fill ends the update as a failure, and nothing stale is ever sent.
#include "tests/package/package_fixture.h"

#include <filesystem>
#include <ostream>

namespace meterload::testing {
namespace {

constexpr std::size_t kTableEnd = kTestPackageHeaderSize + 2 * kTestPackageEntrySize;

struct CutCase {
    const char* name;
    std::ptrdiff_t keep;  // bytes of the file left after the cut; -1 removes the file
};

std::ostream& operator<<(std::ostream& out, const CutCase& cut)
{
    return out << cut.name;
}

// Entry 2's image lies right after the table and entry 1's after it, so a cut
// reaches entry 2 before entry 1.
const Bytes kOther = PlainImage(1000, 2);  // 4 full chunks, then 40 bytes
const Bytes kLead = LeadImage(50 + 600);   // body: 2 full chunks, then 120 bytes
const std::size_t kLeadOffset = kTableEnd + 1000;

// What a run over `bytes` from `from` sends when only `available` of its bytes
// are still in the file: a full chunk is planned after the drain, a short one
// is never written.
bool CutRun(ExpectedTimeline& expected, const Bytes& bytes, std::size_t from, int pause, std::size_t available)
{
    const std::size_t size = bytes.size() - from;
    const std::size_t full = size > 240 ? (size - 1) / 240 : 0;
    const std::size_t last = size - 240 * full;
    std::size_t at = from;
    for (std::size_t chunk = 0; chunk < full; ++chunk, at += 240) {
        expected.Drain();
        if (available < at - from + 240) {
            return false;
        }
        expected.Sleep(pause).Write(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                          bytes.begin() + static_cast<std::ptrdiff_t>(at + 240)));
    }
    if (available < size) {
        return false;
    }
    if (last > 0) {
        expected.Write(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end()));
    }
    return true;
}

class PackageChangeTest : public PackageUpdateTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(PackageChangeTest, ShortenedPackageEndsTheUpdateAsFailure)
{
    const CutCase& cut = GetParam();
    Configure("serials=ABC123\n");
    PackageBuilder()
        .Entry(static_cast<std::int32_t>(kLeadOffset), static_cast<std::int32_t>(kLead.size()))
        .Image(kOther)
        .Tail(kLead)
        .WriteTo(PackagePath());

    // The first drain is in the settle after "system:update\n": the package
    // has passed every check by then.
    bool cutDone = false;
    recorder_.SetPumpHook([&] {
        if (cutDone) {
            return;
        }
        cutDone = true;
        if (cut.keep < 0) {
            std::filesystem::remove(PackagePath());
        } else {
            std::filesystem::resize_file(PackagePath(), static_cast<std::uintmax_t>(cut.keep));
        }
    });

    EXPECT_EQ(Install(), StoppedInUpdateMode(StopReason::FileUnreadable));

    ExpectedTimeline expected;
    expected.Local().Identify(kIdnReply).EnterUpdateMode();
    if (cut.keep >= 0) {
        const std::size_t keep = static_cast<std::size_t>(cut.keep);
        const std::size_t otherAvailable = keep > kTableEnd ? keep - kTableEnd : 0;
        if (CutRun(expected, kOther, 0, 20, otherAvailable)) {
            expected.Acknowledge(2000, kAccepted, [] { return kAccepted; });
            // Entry 1's header must be there whole before its body starts.
            const std::size_t leadAvailable = keep > kLeadOffset ? keep - kLeadOffset : 0;
            if (leadAvailable >= kTestImageHeaderSize) {
                expected.Sleep(10);
                CutRun(expected, kLead, kTestImageHeaderSize, 10, leadAvailable - kTestImageHeaderSize);
            }
        }
    }
    EXPECT_EQ(Actual(), expected.Text());
    EXPECT_TRUE(recorder_.MessageBoxes().empty()) << recorder_.EventLog();
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, PackageChangeTest,
    ::testing::Values(CutCase{"InsideAFullChunkOfEntry2", static_cast<std::ptrdiff_t>(kTableEnd + 500)},
                      CutCase{"InsideTheLastChunkOfEntry2", static_cast<std::ptrdiff_t>(kTableEnd + 980)},
                      CutCase{"InsideTheHeaderOfEntry1", static_cast<std::ptrdiff_t>(kLeadOffset + 20)},
                      CutCase{"InsideAFullChunkOfEntry1", static_cast<std::ptrdiff_t>(kLeadOffset + 50 + 300)},
                      CutCase{"InsideTheLastChunkOfEntry1", static_cast<std::ptrdiff_t>(kLeadOffset + 650 - 1)},
                      CutCase{"PackageRemoved", -1}),
    [](const ::testing::TestParamInfo<CutCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace meterload::testing
