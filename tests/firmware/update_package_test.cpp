// Reading the package header and its entries by path.
#include "firmware/update_package.h"

#include "scratch_dir.h"
#include "tests/support/package_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace meterload {
namespace {

using testing::Bytes;
using testing::PackageBuilder;

struct EntryView {
    std::int32_t offset;
    std::int32_t size;
    std::string name;
    bool operator==(const EntryView& other) const
    {
        return offset == other.offset && size == other.size && name == other.name;
    }
};

std::ostream& operator<<(std::ostream& out, const EntryView& e)
{
    return out << "{offset " << e.offset << ", size " << e.size << ", name \"" << e.name << "\"}";
}

std::optional<EntryView> View(const std::optional<PackageEntry>& entry)
{
    if (!entry) {
        return std::nullopt;
    }
    return EntryView{entry->Offset(), entry->Size(), entry->Name()};
}

class PackageReaderTest : public ::testing::Test {
protected:
    std::string Write(const PackageBuilder& builder)
    {
        const std::string path = dir_.File("update.pak");
        builder.WriteTo(path);
        return path;
    }

    std::string Write(const Bytes& bytes)
    {
        const std::string path = dir_.File("update.pak");
        testing::WriteFileBytes(path, bytes);
        return path;
    }

    testing::ScratchDir dir_;
};

PackageBuilder ThreeEntries()
{
    PackageBuilder builder;
    builder.Entry(3000, 200, "dsp.bin").Entry(2000, 1000, "panel.bin").Entry(1600, 0, "msp.bin");
    return builder;
}

const EntryView kFirst{3000, 200, "dsp.bin"};
const EntryView kSecond{2000, 1000, "panel.bin"};
const EntryView kThird{1600, 0, "msp.bin"};

struct TableCase {
    const char* name;
    std::function<Bytes()> file;
    std::int32_t count;                             // the header's entry count
    std::vector<std::optional<EntryView>> entries;  // ReadPackageEntry for n = -1, 0, 1, 2, 3, 4
};

void PrintTo(const TableCase& c, std::ostream* os)
{
    *os << c.name;
}

class PackageTableCase : public PackageReaderTest, public ::testing::WithParamInterface<TableCase> {};

// An entry is returned only when the table has it and the file holds all of
// it; nothing is made up from a count beyond the table or a cut-off record.
TEST_P(PackageTableCase, ReadsEachEntryTheFileHolds)
{
    const TableCase& c = GetParam();
    const std::string path = Write(c.file());
    const std::optional<PackageHeader> header = ReadPackageHeader(path);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->EntryCount(), c.count);
    for (int n = -1; n <= 4; ++n) {
        EXPECT_EQ(View(ReadPackageEntry(path, n)), c.entries[static_cast<std::size_t>(n + 1)]) << "entry " << n;
    }
}

Bytes Cut(const Bytes& full, std::size_t size)
{
    return Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
}

constexpr std::size_t kSecondEntryAt = kPackageHeaderSize + kPackageEntrySize;

INSTANTIATE_TEST_SUITE_P(
    Tables, PackageTableCase,
    ::testing::Values(TableCase{"ThreeEntries",
                                [] { return ThreeEntries().Build(); },
                                3,
                                {std::nullopt, std::nullopt, kFirst, kSecond, kThird, std::nullopt}},
                      TableCase{"NoEntries",
                                [] { return PackageBuilder().EntryCount(0).Build(); },
                                0,
                                {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
                      TableCase{"NegativeCount",
                                [] { return PackageBuilder().EntryCount(-1).Build(); },
                                -1,
                                {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
                      TableCase{"TableEndingInsideAnEntry",
                                [] { return Cut(ThreeEntries().Build(), kSecondEntryAt + 8); },
                                3,
                                {std::nullopt, std::nullopt, kFirst, std::nullopt, std::nullopt, std::nullopt}},
                      TableCase{"TableEndingAfterAnEntry",
                                [] { return Cut(ThreeEntries().Build(), kSecondEntryAt); },
                                3,
                                {std::nullopt, std::nullopt, kFirst, std::nullopt, std::nullopt, std::nullopt}},
                      TableCase{"HugeCount",
                                [] {
                                    PackageBuilder builder = ThreeEntries();
                                    builder.EntryCount(0x7FFFFFFF);
                                    return builder.Build();
                                },
                                0x7FFFFFFF,
                                {std::nullopt, std::nullopt, kFirst, kSecond, kThird, std::nullopt}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(PackageReaderTest, HugeCountAndIndexEndAtTheEndOfTheFile)
{
    PackageBuilder builder = ThreeEntries();
    builder.EntryCount(0x7FFFFFFF);
    const std::string path = Write(builder);
    EXPECT_EQ(View(ReadPackageEntry(path, 0x7FFFFFFF)), std::nullopt);
}

TEST_F(PackageReaderTest, UnreadablePathGivesNothing)
{
    const std::string path = dir_.File("missing.pak");
    EXPECT_EQ(ReadPackageHeader(path), std::nullopt);
    EXPECT_EQ(View(ReadPackageEntry(path, 1)), std::nullopt);
    EXPECT_EQ(ReadPackageHeader(dir_.File(".")), std::nullopt) << "a folder is no package";
}

TEST_F(PackageReaderTest, ShortFileZeroesTheRestOfTheHeader)
{
    Bytes file(100);
    for (std::size_t i = 0; i < file.size(); ++i) {
        file[i] = static_cast<std::uint8_t>(i + 1);
    }
    const std::string path = Write(file);
    const std::optional<PackageHeader> header = ReadPackageHeader(path);
    ASSERT_TRUE(header.has_value());
    Bytes expected = file;
    expected.resize(kPackageHeaderSize, 0);
    EXPECT_EQ(Bytes(header->bytes.begin(), header->bytes.end()), expected);
    EXPECT_EQ(header->EntryCount(), 0);
    EXPECT_EQ(View(ReadPackageEntry(path, 1)), std::nullopt);
}

TEST(PackageRecordTest, LittleEndianFieldsAndName)
{
    PackageBuilder builder;
    builder.Entry(-2, 0x01020304, "x");
    const Bytes file = builder.Build();
    PackageHeader header;
    std::copy_n(file.begin(), kPackageHeaderSize, header.bytes.begin());
    PackageEntry entry;
    std::copy_n(file.begin() + kPackageHeaderSize, kPackageEntrySize, entry.bytes.begin());
    EXPECT_EQ(header.EntryCount(), 1);
    EXPECT_EQ(entry.Offset(), -2);
    EXPECT_EQ(entry.Size(), 0x01020304);
    EXPECT_EQ(entry.bytes[4], 0x04);
    EXPECT_EQ(entry.Name(), "x");

    entry.bytes.fill('n');  // a name that fills its field has no terminator
    EXPECT_EQ(entry.Name(), std::string(512, 'n'));
    EXPECT_EQ(PackageHeader().EntryCount(), 0);
}

}  // namespace
}  // namespace meterload
