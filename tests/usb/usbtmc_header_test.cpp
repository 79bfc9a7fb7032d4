// The USBTMC headers the USB library builds and the reply headers it accepts.
#include "usb/usbtmc_header.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace usbtmc {
namespace {

TEST(UsbtmcHeaderTest, TagsRunFromOneTo255AndNeverZero)
{
    TagSequence tags;
    std::set<int> seen;
    std::vector<int> order;
    for (int i = 0; i < 300; ++i) {
        const std::uint8_t tag = tags.Next();
        ASSERT_NE(tag, 0) << "at " << i;
        seen.insert(tag);
        order.push_back(tag);
    }
    EXPECT_EQ(seen.size(), 255U);
    EXPECT_EQ(order[0], 1);
    EXPECT_EQ(order[254], 255);
    EXPECT_EQ(order[255], 1) << "after 255 comes 1";
}

TEST(UsbtmcHeaderTest, AMessageOutIsPaddedToFourBytesWithEndOfMessage)
{
    struct Case {
        std::uint32_t count;
        std::size_t size;
    };
    for (const Case c :
         {Case{0, 12}, Case{1, 16}, Case{3, 16}, Case{4, 16}, Case{52, 64}, Case{53, 68}, Case{240, 252}}) {
        SCOPED_TRACE(c.count);
        const std::vector<std::uint8_t> data(c.count, 0x5A);
        const std::vector<std::uint8_t> message = MessageOut(7, data.data(), c.count);
        ASSERT_EQ(message.size(), c.size);
        EXPECT_EQ(message[0], kDevDepMsgOut);
        EXPECT_EQ(message[1], 7);
        EXPECT_EQ(message[2], 0xF8);
        EXPECT_EQ(message[4] | message[5] << 8 | message[6] << 16 | message[7] << 24, static_cast<int>(c.count));
        EXPECT_EQ(message[8], 0x01) << "EOM";
        for (std::size_t i = kHeaderSize + c.count; i < message.size(); ++i) {
            EXPECT_EQ(message[i], 0) << "padding at " << i;
        }
    }
}

TEST(UsbtmcHeaderTest, AReplyHeaderIsReadWithItsTag)
{
    const std::vector<std::uint8_t> request = RequestIn(9, 240);
    EXPECT_EQ(request.size(), kHeaderSize);
    EXPECT_EQ(request[0], kRequestDevDepMsgIn);
    EXPECT_EQ(request[4], 240);
    EXPECT_EQ(request[8], 0) << "no term char";
    const std::vector<std::uint8_t> withTerm = RequestIn(9, 240, '\n');
    EXPECT_EQ(withTerm[8], 0x02);
    EXPECT_EQ(withTerm[9], '\n');

    const std::vector<std::uint8_t> good = {2, 9, 0xF6, 0, 5, 0, 0, 0, 1, 0, 0, 0};
    const auto parsed = ParseReply(good.data(), good.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->tag, 9);
    EXPECT_EQ(parsed->transferSize, 5U);
    EXPECT_TRUE(parsed->endOfMessage);
    struct Case {
        const char* name;
        std::size_t at;
        std::uint8_t value;
    };
    for (const Case c : {Case{"MsgID", 0, 1}, Case{"bTagInverse", 2, 0xF5}, Case{"bTag 0", 1, 0}}) {
        std::vector<std::uint8_t> bad = good;
        bad[c.at] = c.value;
        EXPECT_FALSE(ParseReply(bad.data(), bad.size())) << c.name;
    }
    EXPECT_FALSE(ParseReply(good.data(), kHeaderSize - 1)) << "cut short";
    std::vector<std::uint8_t> more = good;
    more[8] = 0;
    EXPECT_FALSE(ParseReply(more.data(), more.size())->endOfMessage);
}

TEST(UsbtmcHeaderTest, EarlierTagsAreTheHalfOfTheSequenceBehind)
{
    struct Case {
        int tag;
        int current;
        bool earlier;
    };
    const Case cases[] = {{4, 5, true},    {255, 1, true}, {254, 1, true},  {5, 5, false}, {6, 5, false},
                          {1, 255, false}, {133, 5, true}, {132, 5, false}, {0, 5, false}};
    for (const Case c : cases) {
        EXPECT_EQ(IsEarlierTag(static_cast<std::uint8_t>(c.tag), static_cast<std::uint8_t>(c.current)), c.earlier)
            << c.tag << " before " << c.current;
    }
}

TEST(UsbtmcHeaderTest, CapabilitiesComeFromASuccessfulReply)
{
    std::vector<std::uint8_t> reply(24, 0);
    reply[0] = kStatusSuccess;
    reply[5] = 0x01;
    reply[14] = 0x06;
    const Capabilities all = ParseCapabilities(reply.data(), reply.size());
    EXPECT_TRUE(all.termChar);
    EXPECT_TRUE(all.usb488);
    EXPECT_TRUE(all.renControl);
    reply[0] = kStatusFailed;
    EXPECT_FALSE(ParseCapabilities(reply.data(), reply.size()).renControl) << "a refusal declares nothing";
    reply[0] = kStatusSuccess;
    EXPECT_FALSE(ParseCapabilities(reply.data(), 4).termChar) << "cut short";
}

}  // namespace
}  // namespace usbtmc
