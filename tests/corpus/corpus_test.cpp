// Every file of the malformed corpus through the update the dialog runs for
// it (single image or package), against the simulated ZQ6140: refused with
// its own texts, no byte of it on the wire, the connection let go.
#include "tests/corpus/malformed_corpus.h"
#include "tests/support/transcript.h"
#include "tests/update/library_tracking.h"
#include "tests/update/update_flow_fixture.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>

namespace meterload::testing {

// Printed by gtest for a failing case.
void PrintTo(const MalformedFile& file, std::ostream* out)
{
    *out << file.name;
}

namespace {

using ::testing::ElementsAreArray;

const std::filesystem::path kFolder = METERLOAD_CORPUS_FOLDER;

std::vector<std::string> RefusalLines(Refusal refusal)
{
    return refusal == Refusal::Identity ? IdentityRefusalLines() : GateRefusalLines(GateProcessor(refusal));
}

std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes ReadWhole(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The folder in the repository is what the generator makes, nothing more and
// nothing less, so that no file in it is edited by hand or left behind.
TEST(MalformedCorpusFolder, HoldsExactlyWhatTheGeneratorMakes)
{
    std::map<std::string, Bytes> expected;
    for (const MalformedFile& file : MalformedCorpus()) {
        EXPECT_TRUE(expected.emplace(file.name, file.bytes).second) << "two files named " << file.name;
    }
    std::map<std::string, Bytes> onDisk;
    for (const auto& entry : std::filesystem::directory_iterator(kFolder)) {
        onDisk.emplace(entry.path().filename().string(), ReadWhole(entry.path()));
    }
    for (const auto& [name, bytes] : expected) {
        const auto found = onDisk.find(name);
        if (found == onDisk.end()) {
            ADD_FAILURE() << name << " is missing; run the malformed_corpus target";
        } else {
            EXPECT_TRUE(found->second == bytes) << name << " differs from what the generator makes";
        }
    }
    for (const auto& entry : onDisk) {
        EXPECT_EQ(expected.count(entry.first), 1u) << entry.first << " is not made by the generator";
    }
}

class MalformedFileTest : public UpdateFlowTest, public ::testing::WithParamInterface<MalformedFile> {
protected:
    // The bytes of the data writes, all together.
    std::size_t ImageBytesSent()
    {
        std::size_t total = 0;
        for (const WireEvent& write : sim.Events("viWrite")) {
            if (write.Field("kind") == "data") {
                total += write.bytes.size();
            }
        }
        return total;
    }
};

TEST_P(MalformedFileTest, IsRefusedAndNothingOfItReachesTheInstrument)
{
    const MalformedFile& file = GetParam();
    Configure();
    StartReady();
    Press((kFolder / file.name).string());

    const std::vector<std::string> afterIdentification = {"Serial No: ABC123", "Please wait ..."};
    if (file.IsPackage()) {
        const auto boxes = dialog.MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u) << dialog.EventLog();
        EXPECT_EQ(boxes[0].text, RefusalBoxText(file));
        EXPECT_EQ(boxes[0].caption, "MeterLoad");
        EXPECT_THAT(dialog.LogLines(), ElementsAreArray(Joined(afterIdentification, FailureLines(file.name))));
        // Ours, then the package update's: "L0\n" and "*idn?\n" twice, nothing more.
        EXPECT_THAT(Writes(), ElementsAreArray({kLocal, kIdentify, kLocal, kIdentify})) << HexList(Writes());
        EXPECT_TRUE(sim.Events("mode").empty()) << "the instrument left its normal mode";
    } else {
        EXPECT_TRUE(dialog.MessageBoxes().empty()) << dialog.EventLog();
        EXPECT_THAT(dialog.LogLines(), ElementsAreArray(Joined(afterIdentification, RefusalLines(file.refusal))));
        // The single-image update switches the instrument before it reads
        // the header; no byte of the file follows.
        EXPECT_THAT(Writes(), ElementsAreArray({kLocal, kIdentify, kSystemUpdate})) << HexList(Writes());
        EXPECT_FALSE(dialog.Visible(kSelectButton));
    }
    EXPECT_EQ(ImageBytesSent(), 0u);
    EXPECT_TRUE(sim.Events("image").empty());
    EXPECT_EQ(LibraryTracking::Held(), 0) << "the connection still holds the VISA library";
}

std::vector<MalformedFile> Refused()
{
    std::vector<MalformedFile> refused;
    for (MalformedFile& file : MalformedCorpus()) {
        if (file.refusal != Refusal::NoBody) {
            refused.push_back(std::move(file));
        }
    }
    return refused;
}

std::string CaseName(const ::testing::TestParamInfo<MalformedFile>& info)
{
    return info.param.TestName();
}

INSTANTIATE_TEST_SUITE_P(Corpus, MalformedFileTest, ::testing::ValuesIn(Refused()), CaseName);

// A header without a body passes both checks, so it goes as far as the
// instrument's reply: the instrument is told of an image of no bytes, and no
// byte of the file besides its header was read for it.
class HeaderOnlyTest : public MalformedFileTest {};

TEST_P(HeaderOnlyTest, GoesToTheInstrumentWithoutAByteOfBody)
{
    const MalformedFile& file = GetParam();
    Configure();
    StartReady();
    Press((kFolder / file.name).string());

    EXPECT_TRUE(dialog.MessageBoxes().empty()) << dialog.EventLog();
    const auto images = sim.Events("image");
    ASSERT_FALSE(images.empty()) << sim.TranscriptText();
    EXPECT_EQ(images.back().Field("size"), "0") << "entry 1 or the single image";
    // What did go out belongs to the package's other entry.
    EXPECT_EQ(ImageBytesSent(), file.IsPackage() ? 300u : 0u);
    EXPECT_EQ(LibraryTracking::Held(), 0);
}

std::vector<MalformedFile> HeaderOnly()
{
    std::vector<MalformedFile> files;
    for (MalformedFile& file : MalformedCorpus()) {
        if (file.refusal == Refusal::NoBody) {
            files.push_back(std::move(file));
        }
    }
    return files;
}

INSTANTIATE_TEST_SUITE_P(Corpus, HeaderOnlyTest, ::testing::ValuesIn(HeaderOnly()), CaseName);

}  // namespace
}  // namespace meterload::testing
