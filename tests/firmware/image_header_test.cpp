// Decoding the bit-inverted image header and the identity check.
#include "firmware/image_header.h"

#include "platform/file.h"
#include "scratch_dir.h"
#include "tests/support/package_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace meterload {
namespace {

using testing::Bytes;
using testing::ImageHeaderBytes;
using testing::ImageSpec;

struct DecodeCase {
    const char* name;
    Bytes stored;
    bool identityMatches;
    std::string version;  // decoded, up to the first zero
    std::uint8_t targetKind;
};

void PrintTo(const DecodeCase& c, std::ostream* out)
{
    *out << c.name;
}

Bytes Cut(Bytes bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

Bytes WithDecodedByte(Bytes stored, std::size_t at, std::uint8_t value)
{
    stored[at] = static_cast<std::uint8_t>(~value);
    return stored;
}

ImageSpec Spec(std::string identity, std::string version = "02.06", std::uint8_t kind = 0)
{
    ImageSpec spec;
    spec.identity = std::move(identity);
    spec.version = std::move(version);
    spec.targetKind = kind;
    return spec;
}

const Bytes kGood = ImageHeaderBytes(Spec("KORVALEN ZQ6140", "02.06", 1));

std::vector<DecodeCase> DecodeCases()
{
    ImageSpec plain = Spec("KORVALEN ZQ6140");
    plain.inverted = false;
    Bytes longer = kGood;
    longer.resize(80, 0x00);  // bytes past 50 decode to nothing
    return {
        {"Inverted", kGood, true, "02.06", 1},
        {"NotExaminedBytesIgnored", WithDecodedByte(WithDecodedByte(kGood, 0, 0x55), 49, 0x7E), true, "02.06", 1},
        {"MoreThanFiftyStored", longer, true, "02.06", 1},
        {"Plain", ImageHeaderBytes(plain), false, "\xCF\xCD\xD1\xCF\xC9", 0xFF},
        {"Empty", {}, false, "", 0},
        {"FifteenBytes", Cut(kGood, 15), false, "", 0},
        {"EndsAfterIdentity", Cut(kGood, 16), true, "", 0},
        {"EndsInsideVersion", Cut(kGood, 43), true, "02", 0},
        {"EndsBeforeTargetKind", Cut(kGood, 46), true, "02.06", 0},
        {"EndsAfterTargetKind", Cut(kGood, 47), true, "02.06", 1},
        {"LowerCase", ImageHeaderBytes(Spec("korvalen zq6140")), false, "02.06", 0},
        {"FirstCharacterChanged", ImageHeaderBytes(Spec("LORVALEN ZQ6140")), false, "02.06", 0},
        {"BlankChanged", ImageHeaderBytes(Spec("KORVALEN_ZQ6140")), false, "02.06", 0},
        {"LastCharacterChanged", ImageHeaderBytes(Spec("KORVALEN ZQ6141")), false, "02.06", 0},
        {"OneLetterLowerCase", ImageHeaderBytes(Spec("KORVALEN zQ6140")), false, "02.06", 0},
        {"ZeroInsideIdentity", WithDecodedByte(kGood, 9, 0), false, "02.06", 1},
        {"TargetKindNamesNone", WithDecodedByte(kGood, 46, 255), true, "02.06", 255},
    };
}

class DecodeImageHeaderTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeImageHeaderTest, FromBytes)
{
    const DecodeCase& c = GetParam();
    const ImageHeader header = DecodeImageHeader(c.stored.data(), c.stored.size());
    EXPECT_EQ(IdentityMatches(header), c.identityMatches) << "identity \"" << header.identity.data() << "\"";
    EXPECT_EQ(std::string(header.version.data()), c.version);
    EXPECT_EQ(int{header.targetKind}, int{c.targetKind});
    EXPECT_EQ(header.identity.back(), '\0');
    EXPECT_EQ(header.version.back(), '\0');
    EXPECT_EQ(header.work[kImageHeaderSize], 0);
}

TEST_P(DecodeImageHeaderTest, FromFileLikeFromBytes)
{
    const DecodeCase& c = GetParam();
    testing::ScratchDir dir;
    const std::string path = dir.File("image.bin");
    testing::WriteFileBytes(path, c.stored);
    const auto file = File::Open(path);
    ASSERT_NE(file, nullptr);
    const ImageHeader fromFile = DecodeImageHeader(*file);
    const ImageHeader fromBytes = DecodeImageHeader(c.stored.data(), c.stored.size());
    EXPECT_EQ(fromFile.work, fromBytes.work);
    EXPECT_EQ(IdentityMatches(fromFile), c.identityMatches);
}

INSTANTIATE_TEST_SUITE_P(Headers, DecodeImageHeaderTest, ::testing::ValuesIn(DecodeCases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(DecodeImageHeaderWorkTest, MissingBytesDecodeToZero)
{
    const Bytes stored = Cut(kGood, 20);
    const ImageHeader header = DecodeImageHeader(stored.data(), stored.size());
    Bytes expected(kImageHeaderSize + 1, 0);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        expected[i] = static_cast<std::uint8_t>(~stored[i]);
    }
    EXPECT_EQ(Bytes(header.work.begin(), header.work.end()), expected);
}

TEST(DecodeImageHeaderWorkTest, NoBufferDecodesAsAllZero)
{
    const ImageHeader header = DecodeImageHeader(nullptr, 0);
    EXPECT_EQ(Bytes(header.work.begin(), header.work.end()), Bytes(kImageHeaderSize + 1, 0));
    EXPECT_FALSE(IdentityMatches(header));
}

// The caller reads the image body right after the header.
TEST(DecodeImageHeaderFileTest, LeavesFileAtTheBody)
{
    testing::ScratchDir dir;
    const std::string path = dir.File("image.bin");
    ImageSpec spec = Spec("KORVALEN ZQ6140");
    spec.bodySize = 10;
    const Bytes image = testing::ImageBytes(spec);
    testing::WriteFileBytes(path, image);

    const auto file = File::Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(IdentityMatches(DecodeImageHeader(*file)));
    Bytes rest(20);
    const auto got = file->Read(rest.data(), rest.size());
    ASSERT_EQ(got, 10);
    rest.resize(10);
    EXPECT_EQ(rest, Bytes(image.begin() + 50, image.end()));
}

TEST(DecodeImageHeaderFileTest, ReadsFromTheCurrentPosition)
{
    testing::ScratchDir dir;
    const std::string path = dir.File("package.pak");
    Bytes file(300, 0xEE);
    const Bytes header = ImageHeaderBytes(Spec("KORVALEN ZQ6140", "03.10", 2));
    std::copy(header.begin(), header.end(), file.begin() + 200);
    testing::WriteFileBytes(path, file);

    const auto opened = File::Open(path);
    ASSERT_NE(opened, nullptr);
    ASSERT_TRUE(opened->Seek(200));
    const ImageHeader decoded = DecodeImageHeader(*opened);
    EXPECT_TRUE(IdentityMatches(decoded));
    EXPECT_EQ(std::string(decoded.version.data()), "03.10");
    EXPECT_EQ(int{decoded.targetKind}, 2);
}

TEST(DecodeImageHeaderFileTest, ShortFileLeavesFileAtItsEnd)
{
    testing::ScratchDir dir;
    const std::string path = dir.File("short.bin");
    testing::WriteFileBytes(path, Cut(kGood, 30));
    const auto file = File::Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(IdentityMatches(DecodeImageHeader(*file)));
    std::uint8_t byte = 0;
    EXPECT_EQ(file->Read(&byte, 1), 0);
}

}  // namespace
}  // namespace meterload
