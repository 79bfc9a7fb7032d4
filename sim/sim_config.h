// The simulator's configuration: key=value lines from the file named by
// ZQSIM_CONFIG or from zqsim_configure, each key overridable by ZQSIM_<KEY>.
// The keys that describe one instrument also have a per-serial form,
// SERIAL.key=value, which overrides the plain key for that instrument only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zqsim {

enum class Enumeration { Hex, Decimal, Both };
enum class RecordLevel { Full, Counts, Off };

// So that every instrument is reached by its own thread and session without
// the simulator growing past what a rack holds.
constexpr std::size_t kMostInstruments = 16;

// One item of the reply script: bytes to answer, or no answer at all.
struct ScriptedReply {
    bool silent = false;
    std::string bytes;
};

// What one instrument is and which faults it shows.
struct InstrumentConfig {
    std::string versions = "02.05-11-07";
    // What it reports once an image it accepted is in place: after its
    // EndFrame was answered "0" and the power was switched off and on.
    std::optional<std::string> receivedVersions;
    // The mode it comes back in after such a power cycle, when not the
    // configured one: an image that failed to go into flash leaves it in its
    // loader.
    std::optional<bool> receivedInUpdateMode;
    std::optional<std::string> idn;
    bool startInUpdateMode = false;
    std::vector<ScriptedReply> replies;
    std::optional<std::uint64_t> failWriteAfter;
    std::optional<std::uint64_t> shortWriteAfter;
    bool failEndFrame = false;
    std::optional<std::uint64_t> failEndFrameAt;  // the EndFrame of image N (from 1)
    // Where an instrument in update mode disappears from the bus, counted
    // since update mode began: once it holds N image bytes, once image N has
    // ended, or N ms later on the sim's clock.
    std::optional<std::uint64_t> unplugAfterBytes;
    std::optional<std::uint64_t> unplugAfterImages;
    std::optional<std::uint64_t> unplugAfterMs;

    // Everything that shapes the instrument: its saved state is only taken
    // back under the same fingerprint.
    std::string Fingerprint() const;
};

// A SERIAL.key=value line, kept as text until the serials are known.
struct SerialSetting {
    std::string serial;
    std::string key;
    std::string value;
    std::string line;  // as written, for the error that names it
};

struct SimConfig {
    std::vector<std::string> serials{"ABC123"};
    Enumeration enumerate = Enumeration::Hex;
    InstrumentConfig defaults;                  // the plain keys
    std::vector<SerialSetting> serialSettings;  // in the order they were read
    bool noResourceManager = false;
    std::string statePath;
    std::string transcriptPath;
    // A folder of power switches, one file per instrument named by its
    // serial: "off" in it switches that instrument off; anything else, or no
    // file, leaves it on.
    std::string powerSwitchesPath;
    // A folder of write gates, one file per instrument named by its serial,
    // that hold its image data writes until a test lets them through (see
    // write_gate.h).
    std::string writeGatesPath;
    RecordLevel record = RecordLevel::Full;

    // Per instrument, in the order of `serials`: the defaults with that
    // serial's settings over them. Filled by LoadConfig.
    std::vector<InstrumentConfig> instruments{InstrumentConfig{}};
};

// Applies the key=value lines of `text` to `config`. On a line it cannot
// understand it returns false and names the line in `badLine`.
bool ApplyConfigText(const std::string& text, SimConfig& config, std::string& badLine);

// Defaults, then `text` (or the ZQSIM_CONFIG file when `text` is null), then
// the environment, then each instrument's settings worked out. Lines of the
// file or the environment that cannot be understood (a per-serial setting for
// a serial that is not attached among them) are skipped and listed in
// `errors`; a bad line in `text` makes the whole call fail.
bool LoadConfig(const std::string* text, SimConfig& config, std::vector<std::string>& errors);

// Decodes \n \r \t \\ \" \xHH; false on a malformed escape.
bool DecodeEscapes(const std::string& text, std::string& decoded);

}  // namespace zqsim
