#include "firmware/image_header.h"

#include "platform/file.h"

#include <algorithm>
#include <string_view>

namespace meterload {

namespace {

constexpr std::string_view kAcceptedIdentity = "KORVALEN ZQ6140";
constexpr std::size_t kIdentityOffset = 1;
constexpr std::size_t kVersionOffset = 41;
constexpr std::size_t kTargetKindOffset = 46;

}  // namespace

ImageHeader DecodeImageHeader(const std::uint8_t* stored, std::size_t count)
{
    ImageHeader header;
    // Bytes a short file does not hold stay 0xFF and so decode to zero.
    std::fill_n(header.work.begin(), kImageHeaderSize, std::uint8_t{0xFF});
    if (count > 0) {  // a file that holds nothing may come with no buffer at all
        std::copy_n(stored, std::min(count, kImageHeaderSize), header.work.begin());
    }
    for (std::size_t i = 0; i < kImageHeaderSize; ++i) {
        header.work[i] = static_cast<std::uint8_t>(~header.work[i]);
    }
    header.work[kImageHeaderSize] = 0;

    for (std::size_t i = 0; i + 1 < header.identity.size(); ++i) {
        header.identity[i] = static_cast<char>(header.work[kIdentityOffset + i]);
    }
    header.identity.back() = '\0';
    for (std::size_t i = 0; i + 1 < header.version.size(); ++i) {
        header.version[i] = static_cast<char>(header.work[kVersionOffset + i]);
    }
    header.version.back() = '\0';
    header.targetKind = header.work[kTargetKindOffset];
    return header;
}

ImageHeader DecodeImageHeader(File& file)
{
    std::array<std::uint8_t, kImageHeaderSize> stored{};
    const std::int64_t got = file.Read(stored.data(), stored.size());
    // A failed read counts as one that brought nothing.
    const std::size_t count = got > 0 ? static_cast<std::size_t>(got) : 0;
    return DecodeImageHeader(stored.data(), count);
}

bool IdentityMatches(const ImageHeader& header)
{
    // A zero byte inside the identity ends it early, as for any C text.
    return std::string_view(header.identity.data()) == kAcceptedIdentity;
}

const char* TargetKindName(std::uint8_t targetKind)
{
    switch (static_cast<TargetKind>(targetKind)) {
    case TargetKind::Dsp: return "DSP";
    case TargetKind::Panel: return "Panel";
    case TargetKind::Msp430: return "MSP 430";
    }
    return "none";
}

}  // namespace meterload
