// Every file of the malformed corpus through `meterload-cli inspect` with the
// instrument's versions given: exit 4 with the refusal in one line, and no
// instrument touched. A header without a body is not refused.
#include "tests/cli/cli_fixture.h"
#include "tests/corpus/malformed_corpus.h"

#include <algorithm>
#include <ostream>

namespace meterload::testing {

void PrintTo(const MalformedFile& file, std::ostream* out)
{
    *out << file.name;
}

namespace {

const std::string kFolder = METERLOAD_CORPUS_FOLDER;

class CorpusInspectTest : public CliTest, public ::testing::WithParamInterface<MalformedFile> {};

TEST_P(CorpusInspectTest, RefusesWithTheReasonAndTouchesNoInstrument)
{
    const MalformedFile& file = GetParam();
    const CliRun run = Run({"inspect", kFolder + "/" + file.name, "--firmware-version", "02.05-11-07"});

    if (file.refusal == Refusal::NoBody) {
        EXPECT_EQ(run.code, 0) << run.err;
    } else {
        std::string reason = RefusalBoxText(file);
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        EXPECT_EQ(run.code, 4) << run.err;
        EXPECT_THAT(run.err, ::testing::HasSubstr(reason));
    }
    EXPECT_TRUE(Writes().empty()) << "an instrument was written to";
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusInspectTest, ::testing::ValuesIn(MalformedCorpus()),
                         [](const ::testing::TestParamInfo<MalformedFile>& param) { return param.param.TestName(); });

}  // namespace
}  // namespace meterload::testing
