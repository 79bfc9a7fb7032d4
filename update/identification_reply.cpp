#include "update/identification_reply.h"

#include "link/update_link.h"

#include <array>
#include <cstdint>

namespace meterload {
namespace {

// Bounds the draining of an over-long reply: a babbling instrument must not
// hold the dialog for ever.
constexpr int kMaxDrainReads = 16;

bool EndsUnfinished(const std::array<char, kIdentifyReplyCapacity>& buffer, std::uint32_t received)
{
    return received >= buffer.size() - 1 && buffer[received - 1] != '\n';
}

}  // namespace

std::string ReadIdentificationReply(InstrumentConnection& connection)
{
    std::array<char, kIdentifyReplyCapacity> reply{};
    const auto capacity = static_cast<std::uint32_t>(reply.size());
    const std::uint32_t received = connection.Read(reply.data(), capacity);
    std::array<char, kIdentifyReplyCapacity> rest{};
    bool unfinished = EndsUnfinished(reply, received);
    for (int i = 0; unfinished && i < kMaxDrainReads; ++i) {
        unfinished = EndsUnfinished(rest, connection.Read(rest.data(), capacity));
    }
    return std::string(reply.data(), received);
}

std::optional<std::string> VersionsField(std::string_view reply)
{
    const std::size_t comma = reply.rfind(',');
    if (comma == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view field = reply.substr(comma + 1);
    return std::string(field.substr(0, field.find('\0')));
}

bool AnswersInUpdateMode(std::string_view versionsField)
{
    return versionsField.compare(0, 3, "WDL") == 0;
}

}  // namespace meterload
