// Image header decoding, identity check, version gate and refusal texts on
// arbitrary headers and instrument fields.
//
// Input: one byte giving the field's length (modulo 64), the field, then the
// stored header bytes (any number).
#include "firmware/image_header.h"
#include "firmware/refusal_texts.h"
#include "firmware/version_gate.h"
#include "fuzz/memory_file.h"
#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

using meterload::ImageHeader;

void Require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::size_t fieldLength = std::min<std::size_t>(data[0] % 64u, size - 1);
    const std::uint8_t* stored = data + 1 + fieldLength;
    const std::size_t storedCount = size - 1 - fieldLength;

    // The field in a block of exactly its size, so that a read past its end
    // is caught.
    std::unique_ptr<char[]> fieldBytes(new char[fieldLength]);
    std::memcpy(fieldBytes.get(), data + 1, fieldLength);
    const std::string_view field(fieldBytes.get(), fieldLength);

    const ImageHeader header = meterload::DecodeImageHeader(stored, storedCount);
    Require(header.work[meterload::kImageHeaderSize] == 0);
    Require(header.identity.back() == '\0' && header.version.back() == '\0');

    // The file form decodes the same and stops right after the header.
    auto& memory = meterload::fuzzing::SharedMemoryFile();
    memory.Replace(stored, storedCount);
    const auto file = meterload::File::Open(memory.Path());
    Require(file != nullptr);
    const ImageHeader fromFile = meterload::DecodeImageHeader(*file);
    Require(fromFile.work == header.work);
    const std::size_t consumed = std::min(storedCount, meterload::kImageHeaderSize);
    std::uint8_t rest[64];
    std::int64_t remaining = 0;
    for (std::int64_t got; (got = file->Read(rest, sizeof rest)) > 0;) {
        remaining += got;
    }
    Require(remaining == static_cast<std::int64_t>(storedCount - consumed));

    const bool identity = meterload::IdentityMatches(header);
    if (identity) {
        static const char kAccepted[] = "KORVALEN ZQ6140";
        Require(storedCount >= 16);
        for (std::size_t i = 0; i < 15; ++i) {
            Require(static_cast<std::uint8_t>(~stored[1 + i]) == static_cast<std::uint8_t>(kAccepted[i]));
        }
    }

    const bool admitted = meterload::VersionGate(field, header);
    if (field.substr(0, 5) == "02.xx" || header.targetKind > 2) {
        Require(admitted);
    }
    if (!admitted) {
        Require(!meterload::GateRefusalBoxText(header.targetKind).empty());
        Require(meterload::GateRefusalLogLines(header.targetKind).size() == 3);
    }
    return 0;
}
