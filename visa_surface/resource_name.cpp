#include "visa_surface/resource_name.h"

#include "visa_surface/visa_constants.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace visa_surface {
namespace {

std::vector<std::string> SplitFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = text.find("::", start);
        fields.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            return fields;
        }
        start = at + 2;
    }
}

std::optional<unsigned long> ParseNumber(const std::string& text, unsigned long limit)
{
    unsigned base = 10;
    std::size_t pos = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        pos = 2;
    }
    if (pos == text.size()) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (; pos < text.size(); ++pos) {
        const int c = std::tolower(static_cast<unsigned char>(text[pos]));
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > limit) {
            return std::nullopt;
        }
    }
    return value;
}

}  // namespace

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::optional<ResourceName> ParseResourceName(const std::string& text)
{
    const std::vector<std::string> fields = SplitFields(text);
    if (fields.size() != 5 && fields.size() != 6) {
        return std::nullopt;
    }
    const std::string& interfaceField = fields[0];
    if (interfaceField.size() < 3 || !EqualsIgnoringCase(interfaceField.substr(0, 3), "USB")) {
        return std::nullopt;
    }
    ResourceName name;
    if (interfaceField.size() > 3) {
        const std::string board = interfaceField.substr(3);
        for (const char c : board) {
            if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
                return std::nullopt;
            }
        }
        const auto number = ParseNumber(board, 0xFFFF);
        if (!number) {
            return std::nullopt;
        }
        name.board = static_cast<unsigned>(*number);
    }
    const auto manufacturer = ParseNumber(fields[1], 0xFFFF);
    const auto model = ParseNumber(fields[2], 0xFFFF);
    if (!manufacturer || !model || fields[3].empty() || !EqualsIgnoringCase(fields.back(), "INSTR")) {
        return std::nullopt;
    }
    name.manufacturer = static_cast<std::uint16_t>(*manufacturer);
    name.model = static_cast<std::uint16_t>(*model);
    name.serial = fields[3];
    if (fields.size() == 6) {
        const auto usbInterface = ParseNumber(fields[4], 0xFF);
        if (!usbInterface) {
            return std::nullopt;
        }
        name.usbInterface = static_cast<int>(*usbInterface);
    }
    return name;
}

std::string FormatResourceName(const std::string& serial, IdNotation notation)
{
    char ids[32];
    if (notation == IdNotation::Hex) {
        std::snprintf(ids, sizeof ids, "0x%04X::0x%04X", static_cast<unsigned>(kVendorId),
                      static_cast<unsigned>(kProductId));
    } else {
        std::snprintf(ids, sizeof ids, "%u::%u", static_cast<unsigned>(kVendorId), static_cast<unsigned>(kProductId));
    }
    return std::string("USB0::") + ids + "::" + serial + "::INSTR";
}

}  // namespace visa_surface
