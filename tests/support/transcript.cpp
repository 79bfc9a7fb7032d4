#include "tests/support/transcript.h"

#include "platform/hex_text.h"

#include <cstdlib>
#include <sstream>

namespace meterload::testing {
namespace {

std::string Unescape(const std::string& value)
{
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 >= value.size()) {
            text.push_back(value[i]);
            continue;
        }
        const char next = value[++i];
        if (next == 'n') {
            text.push_back('\n');
        } else if (next == 'r') {
            text.push_back('\r');
        } else if (next == 'x' && i + 2 < value.size() && HexDigitValue(value[i + 1]) >= 0 &&
                   HexDigitValue(value[i + 2]) >= 0) {
            text.push_back(static_cast<char>(HexDigitValue(value[i + 1]) * 16 + HexDigitValue(value[i + 2])));
            i += 2;
        } else {
            text.push_back(next);
        }
    }
    return text;
}

}  // namespace

std::string WireEvent::Field(const std::string& key) const
{
    const auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

std::vector<WireEvent> ParseTranscript(const std::string& text)
{
    std::vector<WireEvent> events;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string time;
        WireEvent event;
        if (!(words >> time >> event.name)) {
            continue;
        }
        event.time = std::strtoull(time.c_str(), nullptr, 10);
        std::string word;
        while (words >> word) {
            const std::size_t equals = word.find('=');
            if (equals == std::string::npos) {
                continue;
            }
            const std::string key = word.substr(0, equals);
            const std::string value = word.substr(equals + 1);
            if (key == "data") {
                const std::string bytes = FromHexText(value).value_or(std::string());
                event.bytes.assign(bytes.begin(), bytes.end());
                event.fields[key] = value;
            } else {
                event.fields[key] = Unescape(value);
            }
        }
        events.push_back(event);
    }
    return events;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes)
{
    static const char* const digits = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text.push_back(' ');
        }
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

std::vector<std::uint8_t> BytesOf(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace meterload::testing
