// Packages that go through: the order and cut of every image on the wire, the
// pauses, drains and replies around them, and the replies that stop a run.
#include "tests/package/package_fixture.h"

#include <ostream>

namespace meterload::testing {
namespace {

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param)
{
    return param.param.name;
}

struct Layout {
    const char* name;
    std::size_t leadSize;                 // entry 1, header included
    std::vector<std::size_t> otherSizes;  // entries 2 .. entry count
};

std::ostream& operator<<(std::ostream& out, const Layout& layout)
{
    return out << layout.name;
}

class PackageLayoutTest : public PackageUpdateTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(PackageLayoutTest, SendsEveryImageInOrderWithItsPauses)
{
    const Layout& layout = GetParam();
    Configure("serials=ABC123\n");
    const Bytes lead = LeadImage(layout.leadSize);
    std::vector<Bytes> others;
    for (std::size_t i = 0; i < layout.otherSizes.size(); ++i) {
        others.push_back(PlainImage(layout.otherSizes[i], static_cast<std::uint8_t>(i + 2)));
    }
    WritePackage(lead, others);

    EXPECT_EQ(Install(), kInstalled);

    EXPECT_EQ(Actual(), ExpectedInstall(lead, others).Text());
    EXPECT_TRUE(recorder_.MessageBoxes().empty()) << recorder_.EventLog();
    // The instrument saw each image whole, entries 2 .. n first, entry 1 last.
    const auto images = sim_.Events("image");
    ASSERT_EQ(images.size(), others.size() + 1);
    for (std::size_t i = 0; i < others.size(); ++i) {
        EXPECT_EQ(images[i].Field("size"), std::to_string(others[i].size())) << "entry " << i + 2;
    }
    EXPECT_EQ(images.back().Field("size"), std::to_string(lead.size() - kTestImageHeaderSize));
}

INSTANTIATE_TEST_SUITE_P(Layouts, PackageLayoutTest,
                         ::testing::Values(
                             // Entry 1 alone: no body at all; a body of 52 (one write, then the
                             // PadCommand); a full chunk and a last one of 52.
                             Layout{"Lead50Alone", 50, {}}, Layout{"Lead102Alone", 102, {}},
                             Layout{"Lead342Alone", 342, {}},
                             // 240 bytes go out as one write without drain or pause, 480 as one
                             // full chunk and a last one of 240.
                             Layout{"ThreeEntries240And480", 342, {240, 480}},
                             // Last chunks of 52, 116 and 180 among entries 2 .. n bring no
                             // PadCommand; nor does entry 1's last chunk of 3.
                             Layout{"OthersEndingInPadSizes", 293, {292, 356, 420}},
                             Layout{"ThreeEntriesLeadWithoutBody", 50, {1, 241}}),
                         CaseName<Layout>);

struct ReplyCase {
    const char* name;
    std::vector<std::string> replies;  // the instrument's status replies, in order
    ProcedureResult result;
};

std::ostream& operator<<(std::ostream& out, const ReplyCase& replyCase)
{
    return out << replyCase.name;
}

class PackageReplyTest : public PackageUpdateTest, public ::testing::WithParamInterface<ReplyCase> {};

// Three entries; replies come in pairs per image: the image's, then the
// EndFrame's. Only the first of each pair decides.
TEST_P(PackageReplyTest, OnlyTheReplyToEachImageDecides)
{
    const ReplyCase& replyCase = GetParam();
    Configure("serials=ABC123\n" + RepliesConfig(replyCase.replies));
    const Bytes lead = LeadImage(342);
    const std::vector<Bytes> others = {PlainImage(300, 2), PlainImage(500, 3)};
    WritePackage(lead, others);

    EXPECT_EQ(Install(), replyCase.result);

    EXPECT_EQ(Actual(), ExpectedInstall(lead, others, replyCase.replies).Text());
    EXPECT_TRUE(recorder_.MessageBoxes().empty()) << recorder_.EventLog();
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PackageReplyTest,
    ::testing::Values(
        ReplyCase{"AllAccepted", {"0", "0", "0", "0", "0", "0"}, kInstalled},
        ReplyCase{"PrefixedZeroAccepted", {"ab0", "0", "ab0", "0", "ab0", "0"}, kInstalled},
        ReplyCase{"EndFrameRepliesIgnored", {"0", "5", "0", "none", "0", "2"}, kInstalled},
        ReplyCase{"RefusedAfterEntry2", {"2"}, StoppedInUpdateMode(StopReason::ReplyRefused)},
        ReplyCase{"PrefixedRefusalAfterEntry2", {"ab2"}, StoppedInUpdateMode(StopReason::ReplyRefused)},
        ReplyCase{"SilenceAfterEntry2", {"none"}, StoppedInUpdateMode(StopReason::ReplyMissing)},
        ReplyCase{"RefusedAfterEntry3", {"0", "0", "1"}, StoppedInUpdateMode(StopReason::ReplyRefused)},
        ReplyCase{"RefusedAfterEntry1", {"0", "0", "0", "0", "6"}, StoppedInUpdateMode(StopReason::ReplyRefused)},
        ReplyCase{"SilenceAfterEntry1", {"0", "0", "0", "0", "none"}, StoppedInUpdateMode(StopReason::ReplyMissing)}),
    CaseName<ReplyCase>);

// The package's own identification reads an over-long reply to its end, as
// the dialog's does: its rest must not pass for the reply to the first image.
TEST_F(PackageUpdateTest, AnOverlongIdentificationIsReadToItsEnd)
{
    const std::string tail(70, 'Z');
    Configure("serials=ABC123\nidn=KORVALEN,ZQ6140,ABC123,02.05-11-07-" + tail + "\\n\n");
    WritePackage(LeadImage(100), {PlainImage(300, 2)});

    EXPECT_EQ(Install(), kInstalled);

    // Two images, two replies each, after the identification's reads.
    const auto reads = sim_.Events("viRead");
    ASSERT_GE(reads.size(), 5u) << sim_.TranscriptText();
    std::size_t received = 0;
    for (std::size_t i = 0; i + 4 < reads.size(); ++i) {
        received += reads[i].bytes.size();
    }
    EXPECT_EQ(received, 35 + tail.size() + 1) << "the whole reply was read before update mode";
}

TEST_F(PackageUpdateTest, SilentInstrumentIsWaitedForTheConnectionTimeout)
{
    Configure("serials=ABC123\nreplies=none\n");
    WritePackage(LeadImage(100), {PlainImage(10, 2)});

    EXPECT_EQ(Install(), StoppedInUpdateMode(StopReason::ReplyMissing));

    const auto reads = sim_.Events("viRead");
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.back().Field("timeout_ms"), "10000");
}

struct GateCase {
    const char* name;
    const char* versions;  // what the instrument reports
    const char* imageVersion;
    std::uint8_t targetKind;
};

std::ostream& operator<<(std::ostream& out, const GateCase& gateCase)
{
    return out << gateCase.name;
}

class PackageGateTest : public PackageUpdateTest, public ::testing::WithParamInterface<GateCase> {};

TEST_P(PackageGateTest, GateLetsThePackageThrough)
{
    const GateCase& gateCase = GetParam();
    Configure(std::string("serials=ABC123\nversions=") + gateCase.versions + "\n");
    const Bytes lead = LeadImage(150, gateCase.imageVersion, gateCase.targetKind);
    WritePackage(lead);

    EXPECT_EQ(Install(), kInstalled);

    const std::string idn = std::string("KORVALEN,ZQ6140,ABC123,") + gateCase.versions + "\n";
    EXPECT_EQ(Actual(), ExpectedInstall(lead, {}, {}, idn).Text());
}

INSTANTIATE_TEST_SUITE_P(Gate, PackageGateTest,
                         ::testing::Values(GateCase{"ExemptInstrumentTakesOlderDsp", "02.xx-11-07", "01.00", 0},
                                           GateCase{"ExemptInstrumentTakesEqualPanel", "02.xx-11-07", "11.00", 1},
                                           GateCase{"NewerPanel", "02.05-11-07", "12.00", 1},
                                           GateCase{"NewerMsp430", "02.05-11-07", "08.00", 2},
                                           GateCase{"TargetKind3IsNotCompared", "02.05-11-07", "00.00", 3},
                                           GateCase{"TargetKind255IsNotCompared", "02.05-11-07", "02.05", 255}),
                         CaseName<GateCase>);

TEST_F(PackageUpdateTest, SecondAtSignBelongsToTheSerialNumber)
{
    Configure("serials=AB@123\n");
    const Bytes lead = LeadImage(120);
    WritePackage(lead);

    EXPECT_EQ(Install("C:\\fw\\@AB@123"), kInstalled);

    EXPECT_EQ(Actual(), ExpectedInstall(lead, {}, {}, "KORVALEN,ZQ6140,AB@123,02.05-11-07\n").Text());
}

struct FolderCase {
    const char* name;
    const char* serial;
    const char* handOver;
};

std::ostream& operator<<(std::ostream& out, const FolderCase& folder)
{
    return out << folder.name;
}

class PackageFolderTest : public PackageUpdateTest, public ::testing::WithParamInterface<FolderCase> {};

// An "@" in the package's folder is part of the folder: the serial number is
// what follows the first "@" after it.
TEST_P(PackageFolderTest, AtSignInTheFolderIsNotTheSerialNumbers)
{
    const FolderCase& folder = GetParam();
    Configure(std::string("serials=") + folder.serial + "\n");
    const Bytes lead = LeadImage(120);
    WritePackage(lead, {PlainImage(60, 2)});

    EXPECT_EQ(Install(folder.handOver), kInstalled);

    const std::string idn = std::string("KORVALEN,ZQ6140,") + folder.serial + ",02.05-11-07\n";
    EXPECT_EQ(Actual(), ExpectedInstall(lead, {PlainImage(60, 2)}, {}, idn).Text());
    EXPECT_TRUE(recorder_.MessageBoxes().empty()) << recorder_.EventLog();
}

INSTANTIATE_TEST_SUITE_P(Folders, PackageFolderTest,
                         ::testing::Values(FolderCase{"LabFolder", "ABC123", "C:\\fw@lab\\@ABC123"},
                                           FolderCase{"VersionFolder", "ABC123", "D:\\releases\\2.06@beta\\@ABC123"},
                                           FolderCase{"SeveralFolders", "ABC123", "C:\\a@b\\c@d@e\\@ABC123"},
                                           FolderCase{"ForwardSlashes", "ABC123", "/home/lab/fw@lab/@ABC123"},
                                           FolderCase{"NoFolder", "ABC123", "@ABC123"},
                                           FolderCase{"SecondAtSignAfterTheFolder", "AB@123", "C:\\fw@lab\\@AB@123"}),
                         CaseName<FolderCase>);

struct FrameCase {
    const char* name;
    const char* fault;         // the simulator's EndFrame fault
    std::size_t others;        // entries 2 .. entry count
    std::size_t failingFrame;  // the image whose EndFrame fails, in sending order
};

std::ostream& operator<<(std::ostream& out, const FrameCase& frame)
{
    return out << frame.name;
}

class PackageEndFrameTest : public PackageUpdateTest, public ::testing::WithParamInterface<FrameCase> {};

// An EndFrame that did not go out leaves its image unfinished: the update ends
// there as a failure, without a box, and nothing more is sent or read.
TEST_P(PackageEndFrameTest, FailedEndFrameEndsTheUpdateAsAFailure)
{
    const FrameCase& frame = GetParam();
    Configure(std::string("serials=ABC123\n") + frame.fault + "\n");
    const Bytes lead = LeadImage(342);
    std::vector<Bytes> others;
    for (std::size_t i = 0; i < frame.others; ++i) {
        others.push_back(PlainImage(300 + 10 * i, static_cast<std::uint8_t>(i + 2)));
    }
    WritePackage(lead, others);

    EXPECT_EQ(Install(), StoppedInUpdateMode(StopReason::EndFrameFailed));

    EXPECT_EQ(Actual(), ExpectedInstall(lead, others, {}, kIdnReply, frame.failingFrame).Text());
    EXPECT_TRUE(recorder_.MessageBoxes().empty()) << recorder_.EventLog();
    EXPECT_EQ(sim_.Events("image").size(), frame.failingFrame - 1) << sim_.TranscriptText();
}

INSTANTIATE_TEST_SUITE_P(EndFrames, PackageEndFrameTest,
                         ::testing::Values(FrameCase{"FirstOfThree", "fail_endframe=1", 2, 1},
                                           FrameCase{"MiddleOfFour", "fail_endframe_at=2", 3, 2},
                                           FrameCase{"LeadAfterTheOthers", "fail_endframe_at=3", 2, 3},
                                           FrameCase{"LeadAlone", "fail_endframe=1", 0, 1}),
                         CaseName<FrameCase>);

TEST_F(PackageUpdateTest, SecondInstrumentIsLeftAlone)
{
    Configure("serials=ABC123,DEF456\n");
    const Bytes lead = LeadImage(300);
    WritePackage(lead, {PlainImage(250, 2)});

    EXPECT_EQ(Install(), kInstalled);

    for (const WireEvent& image : sim_.Events("image")) {
        EXPECT_EQ(image.Field("serial"), "ABC123");
    }
    EXPECT_EQ(sim_.Events("image").size(), 2u);
}

}  // namespace
}  // namespace meterload::testing
