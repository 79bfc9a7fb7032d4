// Reading the simulated instrument's transcript: one event per line,
// "<microseconds> <event> key=value ...".
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace meterload::testing {

struct WireEvent {
    std::uint64_t time = 0;                     // microseconds on the simulator's clock
    std::string name;                           // load, viWrite, image, ...
    std::map<std::string, std::string> fields;  // values with their escapes decoded
    std::vector<std::uint8_t> bytes;            // the data= field, decoded from hex

    // The field's value, or "" when the event has none.
    std::string Field(const std::string& key) const;
    bool Has(const std::string& key) const { return fields.count(key) != 0; }
};

std::vector<WireEvent> ParseTranscript(const std::string& text);

// Bytes as upper-case hex pairs separated by blanks, for failure messages.
std::string HexBytes(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> BytesOf(const std::string& text);

}  // namespace meterload::testing
