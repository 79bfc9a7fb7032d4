// Reading the package header and its entries by path.
#include "firmware/update_package.h"

#include "scratch_dir.h"
#include "tests/support/package_builder.h"

#include <gtest/gtest.h>

#include <string>

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

EntryView View(const PackageEntry& entry)
{
    return {entry.Offset(), entry.Size(), entry.Name()};
}

PackageEntry Marked()
{
    PackageEntry entry;
    entry.bytes.fill(0x5A);
    return entry;
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

    EntryView ReadEntry(const std::string& path, int n)
    {
        PackageEntry entry = Marked();
        EXPECT_EQ(ReadPackageEntry(path, entry, n), 0);
        return View(entry);
    }

    testing::ScratchDir dir_;
};

PackageBuilder ThreeEntries()
{
    PackageBuilder builder;
    builder.Entry(3000, 200, "dsp.bin").Entry(2000, 1000, "panel.bin").Entry(1600, 0, "msp.bin");
    return builder;
}

TEST_F(PackageReaderTest, ThreeEntries)
{
    const std::string path = Write(ThreeEntries());
    PackageHeader header;
    ASSERT_EQ(ReadPackageHeader(path, header), 0);
    EXPECT_EQ(header.EntryCount(), 3);

    const EntryView first{3000, 200, "dsp.bin"};
    const EntryView third{1600, 0, "msp.bin"};
    EXPECT_EQ(ReadEntry(path, 1), first);
    EXPECT_EQ(ReadEntry(path, 2), (EntryView{2000, 1000, "panel.bin"}));
    EXPECT_EQ(ReadEntry(path, 3), third);
    // Beyond the count, and for n below 1, the reader runs to the last entry.
    EXPECT_EQ(ReadEntry(path, 5), third);
    EXPECT_EQ(ReadEntry(path, 0), third);
    EXPECT_EQ(ReadEntry(path, -1), third);
}

TEST_F(PackageReaderTest, NoEntriesLeavesRecordUntouched)
{
    for (const std::int32_t count : {0, -1}) {
        const std::string path = Write(PackageBuilder().EntryCount(count));
        PackageEntry entry = Marked();
        EXPECT_EQ(ReadPackageEntry(path, entry, 1), 0);
        EXPECT_EQ(entry.bytes, Marked().bytes) << "entry count " << count;
    }
}

TEST_F(PackageReaderTest, UnreadablePathLeavesRecordsUntouched)
{
    const std::string path = dir_.File("missing.pak");
    PackageHeader header;
    header.bytes.fill(0x11);
    EXPECT_EQ(ReadPackageHeader(path, header), 1);
    EXPECT_EQ(header.bytes, [] {
        PackageHeader h;
        h.bytes.fill(0x11);
        return h.bytes;
    }());
    PackageEntry entry = Marked();
    EXPECT_EQ(ReadPackageEntry(path, entry, 1), 1);
    EXPECT_EQ(entry.bytes, Marked().bytes);
}

TEST_F(PackageReaderTest, ShortFileZeroesTheRestOfTheHeader)
{
    Bytes file(100);
    for (std::size_t i = 0; i < file.size(); ++i) {
        file[i] = static_cast<std::uint8_t>(i + 1);
    }
    const std::string path = Write(file);
    PackageHeader header;
    header.bytes.fill(0x77);
    ASSERT_EQ(ReadPackageHeader(path, header), 0);
    Bytes expected = file;
    expected.resize(kPackageHeaderSize, 0);
    EXPECT_EQ(Bytes(header.bytes.begin(), header.bytes.end()), expected);
    EXPECT_EQ(header.EntryCount(), 0);

    PackageEntry entry = Marked();
    EXPECT_EQ(ReadPackageEntry(path, entry, 1), 0);
    EXPECT_EQ(entry.bytes, Marked().bytes);
}

// A table cut short: the record keeps the bytes it held where the read
// brought nothing.
TEST_F(PackageReaderTest, TableEndingInsideAnEntry)
{
    const Bytes full = ThreeEntries().Build();
    const std::size_t secondEntry = kPackageHeaderSize + kPackageEntrySize;
    const std::string path = Write(Bytes(full.begin(), full.begin() + secondEntry + 8));
    EXPECT_EQ(ReadEntry(path, 3), (EntryView{2000, 1000, "dsp.bin"}));
    EXPECT_EQ(ReadEntry(path, 1), (EntryView{3000, 200, "dsp.bin"}));
}

TEST_F(PackageReaderTest, HugeCountStopsAtTheEndOfTheFile)
{
    PackageBuilder builder = ThreeEntries();
    builder.EntryCount(0x7FFFFFFF);
    const std::string path = Write(builder);
    EXPECT_EQ(ReadEntry(path, 0x7FFFFFFF), (EntryView{1600, 0, "msp.bin"}));
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
