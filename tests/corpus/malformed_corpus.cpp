#include "tests/corpus/malformed_corpus.h"

#include <cctype>
#include <cstdint>

namespace meterload::testing {
namespace {

constexpr std::size_t kBodySize = 100;

ImageSpec Image(const std::string& version, std::uint8_t targetKind)
{
    ImageSpec spec;
    spec.version = version;
    spec.targetKind = targetKind;
    spec.bodySize = kBodySize;
    return spec;
}

ImageSpec WithIdentity(const std::string& identity, bool inverted = true)
{
    ImageSpec spec = Image("02.06", 0);
    spec.identity = identity;
    spec.inverted = inverted;
    return spec;
}

Bytes FirstBytes(const ImageSpec& spec, std::size_t count)
{
    Bytes bytes = ImageBytes(spec);
    bytes.resize(count);
    return bytes;
}

// A sound image, for the entries that are not entry 1.
Bytes Other()
{
    return ImageBody(300, 9);
}
Bytes Lead()
{
    return ImageBytes(Image("02.06", 0));
}

}  // namespace

std::vector<MalformedFile> MalformedCorpus()
{
    // Images whose header fails; those of at least 50 bytes fail the same
    // way as entry 1 of a package.
    const std::vector<MalformedFile> images = {
        {"empty.bin", {}, Refusal::Identity, ""},
        {"shorter_than_identity.bin", FirstBytes(Image("02.06", 0), 15), Refusal::Identity, ""},
        // The identity is whole; the missing version reads as zeros, older than any.
        {"cut_after_identity.bin", FirstBytes(Image("02.06", 0), 16), Refusal::GateDsp, ""},
        {"cut_inside_version.bin", FirstBytes(Image("02.06", 0), 43), Refusal::GateDsp, ""},
        {"identity_other_model.bin", ImageBytes(WithIdentity("KORVALEN ZQ6141")), Refusal::Identity, ""},
        {"identity_other_maker.bin", ImageBytes(WithIdentity("KORVALAN ZQ6140")), Refusal::Identity, ""},
        {"identity_lower_case.bin", ImageBytes(WithIdentity("korvalen zq6140")), Refusal::Identity, ""},
        {"identity_not_inverted.bin", ImageBytes(WithIdentity("KORVALEN ZQ6140", false)), Refusal::Identity, ""},
        {"identity_cut_by_zero_byte.bin", ImageBytes(WithIdentity(std::string("KORVALEN\0ZQ6140", 15))),
         Refusal::Identity, ""},
        {"dsp_older.bin", ImageBytes(Image("01.99", 0)), Refusal::GateDsp, ""},
        {"dsp_older_in_last_digit.bin", ImageBytes(Image("02.04", 0)), Refusal::GateDsp, ""},
        {"dsp_equal.bin", ImageBytes(Image("02.05", 0)), Refusal::GateDsp, ""},
        {"panel_older.bin", ImageBytes(Image("10.99", 1)), Refusal::GatePanel, ""},
        {"panel_equal.bin", ImageBytes(Image("11.00", 1)), Refusal::GatePanel, ""},
        {"msp430_older.bin", ImageBytes(Image("06.99", 2)), Refusal::GateMsp430, ""},
        {"msp430_equal.bin", ImageBytes(Image("07.00", 2)), Refusal::GateMsp430, ""},
        {"header_only_no_body.bin", FirstBytes(Image("02.06", 0), kTestImageHeaderSize), Refusal::NoBody, ""},
    };

    std::vector<MalformedFile> corpus = images;
    for (const MalformedFile& image : images) {
        if (image.bytes.size() >= kTestImageHeaderSize) {
            corpus.push_back({"lead_" + image.name.substr(0, image.name.size() - 4) + ".pak",
                              PackageBuilder().Image(image.bytes).Image(Other()).Build(), image.refusal, ""});
        }
    }

    const auto damaged = [&corpus](const std::string& name, const PackageBuilder& package, const std::string& reason) {
        corpus.push_back({name, package.Build(), Refusal::Damaged, reason});
    };
    const std::size_t oneEntryTable = kTestPackageHeaderSize + kTestPackageEntrySize;  // 1036
    const std::size_t twoEntryTable = oneEntryTable + kTestPackageEntrySize;           // 1556
    const auto leadSize = static_cast<std::int32_t>(Lead().size());                    // 150

    damaged("empty.pak", PackageBuilder().TruncateTo(0),
            "The file is 0 bytes long, shorter than the 516-byte package header.");
    damaged("shorter_than_header.pak", PackageBuilder().Image(Lead()).TruncateTo(515),
            "The file is 515 bytes long, shorter than the 516-byte package header.");
    damaged("no_entries.pak", PackageBuilder().EntryCount(0), "It lists no images (entry count 0).");
    damaged("negative_entry_count.pak", PackageBuilder().Image(Lead()).EntryCount(-1),
            "It lists no images (entry count -1).");
    damaged("count_larger_than_the_file_can_hold.pak", PackageBuilder().Image(Lead()).EntryCount(2147483647),
            "Its table of 2147483647 entries runs past the end of the file (1186 bytes).");
    damaged("table_past_the_end.pak", PackageBuilder().Image(Lead()).EntryCount(3),
            "Its table of 3 entries runs past the end of the file (1186 bytes).");
    damaged("table_ends_inside_an_entry.pak",
            PackageBuilder().Image(Lead()).Image(Other()).TruncateTo(oneEntryTable + 300),
            "Its table of 2 entries runs past the end of the file (1336 bytes).");
    damaged("lead_negative_offset.pak", PackageBuilder().Entry(-1, leadSize).Tail(Lead()),
            "Entry 1 has a negative offset (-1).");
    damaged("other_negative_offset.pak",
            PackageBuilder()
                .Entry(static_cast<std::int32_t>(twoEntryTable), leadSize)
                .Entry(-2147483647 - 1, 10)
                .Tail(Lead()),
            "Entry 2 has a negative offset (-2147483648).");
    damaged("lead_negative_size.pak", PackageBuilder().Entry(static_cast<std::int32_t>(oneEntryTable), -1).Tail(Lead()),
            "Entry 1 has a negative size (-1).");
    damaged("other_negative_size.pak",
            PackageBuilder()
                .Entry(static_cast<std::int32_t>(twoEntryTable), leadSize)
                .Entry(static_cast<std::int32_t>(twoEntryTable), -300)
                .Tail(Lead()),
            "Entry 2 has a negative size (-300).");
    damaged("lead_past_the_end.pak", PackageBuilder().Image(Lead()).TruncateTo(oneEntryTable + 100),
            "Entry 1 (150 bytes at offset 1036) runs past the end of the file (1136 bytes).");
    damaged("other_past_the_end.pak", PackageBuilder().Image(Lead()).Image(Other()).TruncateTo(twoEntryTable + 400),
            "Entry 2 (300 bytes at offset 1706) runs past the end of the file (1956 bytes).");
    damaged("offset_past_the_end.pak", PackageBuilder().Image(Lead()).Entry(100000, 0),
            "Entry 2 (0 bytes at offset 100000) runs past the end of the file (1706 bytes).");
    damaged("largest_offset_and_size.pak", PackageBuilder().Image(Lead()).Entry(2147483647, 2147483647),
            "Entry 2 (2147483647 bytes at offset 2147483647) runs past the end of the file (1706 bytes).");
    damaged("lead_shorter_than_its_header.pak",
            PackageBuilder().Entry(static_cast<std::int32_t>(oneEntryTable), 49).Tail(Lead()),
            "Entry 1 is 49 bytes long, too short for its 50-byte image header.");
    damaged("lead_of_no_bytes.pak", PackageBuilder().Entry(static_cast<std::int32_t>(oneEntryTable), 0).Tail(Lead()),
            "Entry 1 is 0 bytes long, too short for its 50-byte image header.");

    // Entry 1 is some other firmware, not a ZQ6140 image.
    corpus.push_back(
        {"lead_not_a_zq6140_image.pak", PackageBuilder().Image(Other()).Image(Lead()).Build(), Refusal::Identity, ""});
    return corpus;
}

std::string MalformedFile::TestName() const
{
    std::string text;
    for (const char c : name) {
        text += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    }
    return text;
}

const char* GateProcessor(Refusal refusal)
{
    switch (refusal) {
    case Refusal::GatePanel: return "Panel";
    case Refusal::GateMsp430: return "MSP 430";
    case Refusal::GateDsp:
    case Refusal::Identity:
    case Refusal::Damaged:
    case Refusal::NoBody: break;
    }
    return "DSP";
}

std::string RefusalBoxText(const MalformedFile& file)
{
    switch (file.refusal) {
    case Refusal::Identity:
        return "Firmware update was not successful.\nPlease be sure you selected the correct firmware file in the "
               "installation process.";
    case Refusal::GateDsp:
    case Refusal::GatePanel:
    case Refusal::GateMsp430:
        return std::string("Firmware Update Not Possible (") + GateProcessor(file.refusal) +
               ").\nBinary file version is older than instrument version.";
    case Refusal::Damaged: return "The update package is damaged and cannot be installed.\n" + file.reason;
    case Refusal::NoBody: return std::string();
    }
    return std::string();
}

}  // namespace meterload::testing
