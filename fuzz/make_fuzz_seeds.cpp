// Writes the seed corpora of the fuzz targets into <dir>/image_gate and
// <dir>/package: a handful of sound and damaged inputs to start from, and
// every file of the malformed corpus (images behind the instrument's field).
#include "tests/corpus/malformed_corpus.h"
#include "tests/support/package_builder.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using meterload::testing::Bytes;
using meterload::testing::ImageBytes;
using meterload::testing::ImageHeaderBytes;
using meterload::testing::ImageSpec;
using meterload::testing::PackageBuilder;
using meterload::testing::WriteFileBytes;

ImageSpec Spec(const std::string& version, std::uint8_t kind, std::size_t bodySize = 0)
{
    ImageSpec spec;
    spec.version = version;
    spec.targetKind = kind;
    spec.bodySize = bodySize;
    return spec;
}

Bytes GateInput(const std::string& field, const Bytes& stored)
{
    Bytes input{static_cast<std::uint8_t>(field.size())};
    input.insert(input.end(), field.begin(), field.end());
    input.insert(input.end(), stored.begin(), stored.end());
    return input;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seeds directory>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const auto gate = root / "image_gate";
    const auto package = root / "package";
    std::filesystem::create_directories(gate);
    std::filesystem::create_directories(package);

    const std::string field = "02.05-11-07";
    WriteFileBytes((gate / "dsp_newer").string(), GateInput(field, ImageHeaderBytes(Spec("02.06", 0))));
    WriteFileBytes((gate / "panel_equal").string(), GateInput(field, ImageHeaderBytes(Spec("11", 1))));
    WriteFileBytes((gate / "msp_older").string(), GateInput(field, ImageHeaderBytes(Spec("06", 2))));
    WriteFileBytes((gate / "exempt").string(), GateInput("02.xx-11-07", ImageHeaderBytes(Spec("01.00", 0))));
    WriteFileBytes((gate / "short_field").string(), GateInput("02.05", ImageHeaderBytes(Spec("12", 1))));
    Bytes cut = ImageHeaderBytes(Spec("02.06", 0));
    cut.resize(20);
    WriteFileBytes((gate / "short_header").string(), GateInput(field, cut));

    WriteFileBytes((package / "three_images").string(), PackageBuilder()
                                                            .Image(ImageBytes(Spec("02.06", 0, 300)))
                                                            .Image(ImageBytes(Spec("12", 1, 40)))
                                                            .Image(ImageBytes(Spec("08", 2, 0)))
                                                            .Build());
    WriteFileBytes((package / "overlapping").string(), PackageBuilder()
                                                           .Entry(516 + 2 * 520, 100)
                                                           .Entry(516 + 2 * 520 + 50, 50)
                                                           .Tail(ImageBytes(Spec("02.06", 0, 50)))
                                                           .Build());
    WriteFileBytes((package / "no_entries").string(), PackageBuilder().EntryCount(0).Build());
    WriteFileBytes((package / "table_cut").string(),
                   PackageBuilder().Image(ImageBytes(Spec("02.06", 0, 10))).EntryCount(4).Build());
    WriteFileBytes((package / "entry_outside").string(),
                   PackageBuilder().Image(ImageBytes(Spec("02.06", 0, 10))).Entry(1500, 400).Build());

    for (const auto& file : meterload::testing::MalformedCorpus()) {
        const std::string stem = file.name.substr(0, file.name.size() - 4);
        if (file.IsPackage()) {
            WriteFileBytes((package / ("corpus_" + stem)).string(), file.bytes);
        } else {
            WriteFileBytes((gate / ("corpus_" + stem)).string(), GateInput(field, file.bytes));
        }
    }
    return 0;
}
