// The update link's pure rules: pad counts, reply status, code names, chunking.
#include "link/update_link.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace meterload {
namespace {

TEST(UpdateLinkTest, PadCommandFollowsExactlyTheThreeCounts)
{
    std::vector<std::size_t> padded;
    for (std::size_t count = 0; count <= 2 * kChunkSize; ++count) {
        if (NeedsPadCommand(count)) {
            padded.push_back(count);
        }
    }
    // 244 (+12 = 256) is past a full chunk and so never a last write's count.
    EXPECT_EQ(padded, (std::vector<std::size_t>{52, 116, 180}));
}

TEST(UpdateLinkTest, EndFrameBytes)
{
    const std::array<std::uint8_t, 10> expected = {0xAB, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF};
    EXPECT_EQ(kEndFrame, expected);
}

struct StatusCase {
    std::array<std::uint8_t, 3> reply;
    std::uint8_t status;
};

void PrintTo(const StatusCase& c, std::ostream* out)
{
    *out << "reply " << int{c.reply[0]} << " " << int{c.reply[1]} << " " << int{c.reply[2]};
}

class ReplyStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ReplyStatusTest, TakesByteOneOnlyAfterThePrefix)
{
    const StatusCase& c = GetParam();
    EXPECT_EQ(int{ReplyStatus(c.reply.data())}, int{c.status}) << "reply " << int{c.reply[0]} << " " << int{c.reply[1]};
}

INSTANTIATE_TEST_SUITE_P(Replies, ReplyStatusTest,
                         ::testing::Values(StatusCase{{'0', 0, 0}, '0'}, StatusCase{{0xAB, '0', 0}, '0'},
                                           StatusCase{{0x32, 0, 0}, '2'}, StatusCase{{0xAB, 0x32, 0}, '2'},
                                           StatusCase{{0xAB, 0x00, '0'}, 0x00},
                                           StatusCase{{0x00, '0', 0}, 0x00},  // nothing arrived
                                           StatusCase{{0xAB, 0xAB, '0'}, 0xAB}, StatusCase{{'5', 0xAB, 0}, '5'}));

struct NameCase {
    std::uint8_t code;
    const char* name;  // nullptr: no name
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << "code " << int{c.code};
}

class ReplyCodeNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ReplyCodeNameTest, NamesOnlyTheSixErrorCodes)
{
    const NameCase& c = GetParam();
    const char* actual = ReplyCodeName(c.code);
    if (c.name == nullptr) {
        EXPECT_EQ(actual, nullptr) << "code " << int{c.code} << " named " << actual;
    } else {
        ASSERT_NE(actual, nullptr) << "code " << int{c.code};
        EXPECT_EQ(std::string(actual), c.name);
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, ReplyCodeNameTest,
                         ::testing::Values(NameCase{'0', nullptr}, NameCase{'1', "FRAME_ERROR"},
                                           NameCase{'2', "CHECKSUM_ERROR"}, NameCase{'3', "ERASE_ERROR"},
                                           NameCase{'4', "PROGRAM_ERROR"}, NameCase{'5', "VERSION_ERROR"},
                                           NameCase{'6', "FW_ERROR"}, NameCase{'7', nullptr}, NameCase{0x00, nullptr},
                                           NameCase{0xAB, nullptr}, NameCase{1, nullptr}, NameCase{0xB1, nullptr}));

struct ChunkCase {
    std::uint64_t size;
    std::uint64_t fullChunks;
    std::uint32_t lastChunk;
    bool pad;
};

void PrintTo(const ChunkCase& c, std::ostream* out)
{
    *out << "size " << c.size;
}

class PlanChunksTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(PlanChunksTest, CutsIntoFullChunksAndANonEmptyLastOne)
{
    const ChunkCase& c = GetParam();
    const ChunkPlan plan = PlanChunks(c.size);
    EXPECT_EQ(plan.fullChunks, c.fullChunks) << "size " << c.size;
    EXPECT_EQ(plan.lastChunk, c.lastChunk) << "size " << c.size;
    EXPECT_EQ(plan.fullChunks * kChunkSize + plan.lastChunk, c.size);
    EXPECT_EQ(NeedsPadCommand(plan.lastChunk), c.pad) << "size " << c.size;
}

INSTANTIATE_TEST_SUITE_P(Sizes, PlanChunksTest,
                         ::testing::Values(ChunkCase{0, 0, 0, false}, ChunkCase{1, 0, 1, false},
                                           ChunkCase{52, 0, 52, true}, ChunkCase{239, 0, 239, false},
                                           ChunkCase{240, 0, 240, false}, ChunkCase{241, 1, 1, false},
                                           ChunkCase{292, 1, 52, true}, ChunkCase{293, 1, 53, false},
                                           ChunkCase{356, 1, 116, true}, ChunkCase{420, 1, 180, true},
                                           ChunkCase{480, 1, 240, false}, ChunkCase{481, 2, 1, false},
                                           // Larger than 32 bits: the plan must not wrap.
                                           ChunkCase{240ull * 0x1'0000'0000ull + 52, 0x1'0000'0000ull, 52, true}));

}  // namespace
}  // namespace meterload
