// The whole-package check made before the instrument enters update mode.
#include "firmware/package_validation.h"

#include "firmware/update_package.h"
#include "platform/file.h"
#include "scratch_dir.h"
#include "tests/support/package_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace meterload {
namespace {

using testing::Bytes;
using testing::PackageBuilder;

const std::string kDamaged = "The update package is damaged and cannot be installed.\n";

Bytes Image(std::size_t bodySize, std::uint8_t seed = 1)
{
    testing::ImageSpec spec;
    spec.bodySize = bodySize;
    spec.bodySeed = seed;
    return testing::ImageBytes(spec);
}

Bytes Filler(std::size_t size)
{
    return Bytes(size, 0xC3);
}

constexpr std::int32_t kTableEnd1 = 516 + 520;
constexpr std::int32_t kTableEnd2 = 516 + 2 * 520;
constexpr std::int32_t kTableEnd3 = 516 + 3 * 520;

struct ValidationCase {
    const char* name;
    std::function<Bytes()> build;
    std::optional<std::string> reason;  // the second line; nothing for a sound package
};

void PrintTo(const ValidationCase& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<ValidationCase> Cases()
{
    return {
        // Sound packages.
        {"ImagesInTableOrder",
         [] { return PackageBuilder().Image(Image(300)).Image(Image(10, 2)).Image(Image(0, 3)).Build(); },
         std::nullopt},
        {"SingleEntry", [] { return PackageBuilder().Image(Image(1)).Build(); }, std::nullopt},
        {"EntryOneOfExactlyTheHeader", [] { return PackageBuilder().Image(Image(0)).Build(); }, std::nullopt},
        {"EntriesInReverseOrder",
         [] {
             // entry 1 is the image after the filler that entry 2 points at
             return PackageBuilder()
                 .Entry(kTableEnd2 + 100, 100)
                 .Entry(kTableEnd2, 100)
                 .Tail(Filler(100))
                 .Tail(Image(50))
                 .Build();
         },
         std::nullopt},
        {"OverlappingEntries",
         [] {
             return PackageBuilder()
                 .Entry(kTableEnd3, 200)
                 .Entry(kTableEnd3 + 50, 150)
                 .Entry(kTableEnd3 + 50, 150)
                 .Tail(Image(150))
                 .Build();
         },
         std::nullopt},
        {"EntryPointingIntoTheTable", [] { return PackageBuilder().Image(Image(10)).Entry(0, kTableEnd2).Build(); },
         std::nullopt},
        {"EmptyEntryAtTheEndOfTheFile",
         [] { return PackageBuilder().Image(Image(10)).Entry(kTableEnd2 + 60, 0).Build(); }, std::nullopt},
        {"BytesAfterTheLastImage", [] { return PackageBuilder().Image(Image(10)).Tail(Filler(1000)).Build(); },
         std::nullopt},

        // Refusals.
        {"EmptyFile", [] { return Bytes{}; }, "The file is 0 bytes long, shorter than the 516-byte package header."},
        {"ShorterThanTheHeader", [] { return Bytes(515, 0); },
         "The file is 515 bytes long, shorter than the 516-byte package header."},
        {"NoEntries", [] { return PackageBuilder().Tail(Image(10)).Build(); }, "It lists no images (entry count 0)."},
        {"NegativeEntryCount", [] { return PackageBuilder().EntryCount(-1).Build(); },
         "It lists no images (entry count -1)."},
        {"TableLongerThanTheFile", [] { return PackageBuilder().Image(Image(10)).EntryCount(3).Build(); },
         "Its table of 3 entries runs past the end of the file (1096 bytes)."},
        {"LargestEntryCount", [] { return PackageBuilder().Image(Image(10)).EntryCount(0x7FFFFFFF).Build(); },
         "Its table of 2147483647 entries runs past the end of the file (1096 bytes)."},
        {"NegativeOffset", [] { return PackageBuilder().Image(Image(10)).Entry(-1, 10).Build(); },
         "Entry 2 has a negative offset (-1)."},
        {"NegativeSize", [] { return PackageBuilder().Image(Image(10)).Entry(kTableEnd2, -5).Build(); },
         "Entry 2 has a negative size (-5)."},
        {"OneByteTooLong", [] { return PackageBuilder().Entry(kTableEnd1, 61).Tail(Image(10)).Build(); },
         "Entry 1 (61 bytes at offset 1036) runs past the end of the file (1096 bytes)."},
        {"OffsetBeyondTheFile", [] { return PackageBuilder().Image(Image(10)).Entry(5000, 0).Build(); },
         "Entry 2 (0 bytes at offset 5000) runs past the end of the file (1616 bytes)."},
        {"EndBeyondThirtyTwoBits",
         [] { return PackageBuilder().Image(Image(10)).Entry(0x7FFFFFFF, 0x7FFFFFFF).Build(); },
         "Entry 2 (2147483647 bytes at offset 2147483647) runs past the end of the file "
         "(1616 bytes)."},
        {"EntryOneShorterThanItsHeader", [] { return PackageBuilder().Entry(kTableEnd1, 49).Tail(Image(0)).Build(); },
         "Entry 1 is 49 bytes long, too short for its 50-byte image header."},
        {"FirstFaultyEntryIsNamed",
         [] { return PackageBuilder().Image(Image(10)).Entry(kTableEnd3, -1).Entry(-7, 0).Tail(Image(10)).Build(); },
         "Entry 2 has a negative size (-1)."},
    };
}

class ValidatePackageTest : public ::testing::TestWithParam<ValidationCase> {
protected:
    testing::ScratchDir dir_;
};

TEST_P(ValidatePackageTest, ByPath)
{
    const ValidationCase& c = GetParam();
    const std::string path = dir_.File("update.pak");
    testing::WriteFileBytes(path, c.build());
    const std::optional<std::string> expected =
        c.reason ? std::optional<std::string>(kDamaged + *c.reason) : std::nullopt;
    EXPECT_EQ(ValidatePackage(path), expected);
}

INSTANTIATE_TEST_SUITE_P(Packages, ValidatePackageTest, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ValidatePackageFileTest, UnopenablePath)
{
    testing::ScratchDir dir;
    EXPECT_EQ(ValidatePackage(dir.File("missing.pak")), kDamaged + "The package file cannot be opened.");
}

// The package update validates through the descriptor it reads entry 1's
// header from, wherever that stands.
TEST(ValidatePackageFileTest, OpenFileAtAnyPosition)
{
    testing::ScratchDir dir;
    const std::string path = dir.File("update.pak");
    PackageBuilder().Image(Image(10)).Entry(kTableEnd2, -5).WriteTo(path);
    const auto file = File::Open(path);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->Seek(700));
    EXPECT_EQ(ValidatePackage(*file), kDamaged + "Entry 2 has a negative size (-5).");
}

// Whatever the check admits, every entry the readers return lies inside the file.
TEST(ValidatePackageFileTest, AdmittedEntriesReadBackInsideTheFile)
{
    testing::ScratchDir dir;
    const std::string path = dir.File("update.pak");
    PackageBuilder builder;
    builder.Image(Image(300)).Image(Image(7, 2)).Entry(kTableEnd3, 60);
    const Bytes bytes = builder.Build();
    testing::WriteFileBytes(path, bytes);
    ASSERT_EQ(ValidatePackage(path), std::nullopt);

    const std::optional<PackageHeader> header = ReadPackageHeader(path);
    ASSERT_TRUE(header.has_value());
    for (int n = 1; n <= header->EntryCount(); ++n) {
        const std::optional<PackageEntry> entry = ReadPackageEntry(path, n);
        ASSERT_TRUE(entry.has_value()) << "entry " << n;
        EXPECT_LE(std::int64_t{entry->Offset()} + entry->Size(), static_cast<std::int64_t>(bytes.size()))
            << "entry " << n;
    }
}

}  // namespace
}  // namespace meterload
