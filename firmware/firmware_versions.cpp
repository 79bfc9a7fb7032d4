#include "firmware/firmware_versions.h"

namespace meterload {
namespace {

std::string Part(std::string_view field, std::size_t at, std::size_t count)
{
    return at < field.size() ? std::string(field.substr(at, count)) : std::string();
}

}  // namespace

FirmwareVersions DecodeFirmwareVersions(std::string_view firmwareVersionField)
{
    return {Part(firmwareVersionField, 0, 5), Part(firmwareVersionField, 6, 2), Part(firmwareVersionField, 9, 2)};
}

}  // namespace meterload
