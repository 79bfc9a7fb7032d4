// Writing a package and reading it back: the table the writer made, the plan
// the update follows from it, and the images at their offsets, byte for byte.
#include "firmware/image_header.h"
#include "firmware/package_plan.h"
#include "firmware/package_validation.h"
#include "firmware/package_writer.h"
#include "firmware/update_package.h"
#include "platform/file.h"
#include "tests/firmware/scratch_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace meterload {
namespace {

std::string Fill(const std::string& path, std::size_t size, char seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + static_cast<char>(i % 97));
    }
    std::ofstream(path, std::ios::binary) << bytes;
    return bytes;
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct RoundTripCase {
    const char* name;
    std::vector<std::size_t> sizes;  // entry 1 first
};

class PackageRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(PackageRoundTrip, ReadsBackWhatWasWritten)
{
    const RoundTripCase& c = GetParam();
    testing::ScratchDir dir;
    std::vector<PackInput> inputs;
    std::vector<std::string> contents;
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
        const std::string path = dir.File("image" + std::to_string(i + 1) + ".bin");
        contents.push_back(Fill(path, c.sizes[i], static_cast<char>('a' + i)));
        inputs.push_back({path, "image" + std::to_string(i + 1) + ".bin", static_cast<std::int64_t>(c.sizes[i])});
    }
    const std::string out = dir.File("fw.pak");
    ASSERT_EQ(WritePackage(out, inputs), PackFailure::None);
    EXPECT_EQ(ValidatePackage(out), std::nullopt);

    const auto file = File::Open(out);
    ASSERT_TRUE(file);
    const PackageTable table = ReadPackageTable(*file, 1000);
    ASSERT_TRUE(table.Whole());
    ASSERT_EQ(table.rows.size(), inputs.size());
    const std::string whole = Slurp(out);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const PackageRow& row = table.rows[i];
        EXPECT_EQ(row.number, static_cast<std::int32_t>(i + 1));
        EXPECT_EQ(row.name, inputs[i].name);
        EXPECT_EQ(row.size, static_cast<std::int32_t>(c.sizes[i]));
        EXPECT_EQ(whole.substr(static_cast<std::size_t>(row.offset), c.sizes[i]), contents[i]) << "entry " << i + 1;
    }

    // Entries 2 .. n whole in table order, then entry 1 without its header.
    const PackagePlan plan = PlanPackage(table);
    ASSERT_EQ(plan.images.size(), inputs.size());
    std::uint64_t total = 0;
    for (std::size_t i = 0; i + 1 < plan.images.size(); ++i) {
        EXPECT_EQ(plan.images[i].number, static_cast<std::int32_t>(i + 2));
        EXPECT_EQ(plan.images[i].bytesToSend, c.sizes[i + 1]);
        EXPECT_EQ(plan.images[i].skipped, 0u);
        total += c.sizes[i + 1];
    }
    const PlannedImage& lead = plan.images.back();
    EXPECT_TRUE(lead.lead);
    EXPECT_EQ(lead.number, 1);
    EXPECT_EQ(lead.offset, table.rows.front().offset);
    EXPECT_EQ(lead.skipped, kImageHeaderSize);
    EXPECT_EQ(lead.bytesToSend, c.sizes.front() - kImageHeaderSize);
    EXPECT_EQ(plan.BytesToSend(), total + c.sizes.front() - kImageHeaderSize);
}

INSTANTIATE_TEST_SUITE_P(Packages, PackageRoundTrip,
                         ::testing::Values(RoundTripCase{"LeadAlone", {50}},
                                           RoundTripCase{"ThreeImages", {1050, 240, 481}},
                                           RoundTripCase{"EmptyOtherEntry", {300, 0, 70000}}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(PackageWriter, CutsALongNameAndKeepsItsEnd)
{
    PackageEntry entry;
    entry.Set(1036, 50, std::string(600, 'n'));
    EXPECT_EQ(entry.Name(), std::string(511, 'n'));
    EXPECT_EQ(entry.Offset(), 1036);
    EXPECT_EQ(entry.Size(), 50);
}

TEST(PackageWriter, AnInputThatShrankLeavesNoPackage)
{
    testing::ScratchDir dir;
    const std::string lead = dir.File("main.bin");
    Fill(lead, 100, 'a');
    const std::string out = dir.File("fw.pak");
    // The table promises more than the file holds now.
    EXPECT_EQ(WritePackage(out, {{lead, "main.bin", 200}}), PackFailure::InputChanged);
    EXPECT_FALSE(File::Open(out));
}

TEST(PackageWriter, RefusesWhatASigned32BitTableCannotHold)
{
    EXPECT_TRUE(FitsInPackage({{"a", "a", 1000}}));
    EXPECT_FALSE(FitsInPackage({{"a", "a", 0x7FFFFFFF}}));
    EXPECT_FALSE(FitsInPackage({{"a", "a", -1}}));
    EXPECT_EQ(WritePackage("/nonexistent/fw.pak", {{"a", "a", 0x7FFFFFFF}}), PackFailure::TooLarge);
}

}  // namespace
}  // namespace meterload
