#include "sim/sim_state.h"

#include "platform/hex_text.h"
#include "sim/process_environment.h"
#include "visa_surface/transcript.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

namespace zqsim {

using visa_surface::EventLine;
namespace {

const char kEnvironmentStore[] = "ZQSIM_STATE_DATA";

const char kHeader[] = "zqsim_state version=4";

// One instrument's serial and configuration, hashed.
std::string FingerprintHash(const std::string& serial, const InstrumentConfig& config)
{
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : serial + "|" + config.Fingerprint()) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    char text[20];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(hash));
    return text;
}

std::string ToHex(const std::string& bytes)
{
    EventLine line("");
    line.AddHex("x", reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return line.Text().substr(3);  // drop " x="
}

// False when `hex` is not whole pairs of hex digits; `bytes` is then untouched.
bool FromHex(const std::string& hex, std::string& bytes)
{
    auto decoded = meterload::FromHexText(hex);
    if (!decoded) {
        return false;
    }
    bytes = std::move(*decoded);
    return true;
}

std::map<std::string, std::string> Fields(const std::string& line)
{
    std::map<std::string, std::string> fields;
    std::istringstream stream(line);
    std::string word;
    while (stream >> word) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) {
            fields[word.substr(0, equals)] = word.substr(equals + 1);
        }
    }
    return fields;
}

// A field's decimal value, at most `limit`; false when it is missing or is
// anything else.
bool Number(const std::map<std::string, std::string>& fields, const char* key, std::uint64_t limit,
            std::uint64_t& value)
{
    const auto it = fields.find(key);
    if (it == fields.end() || it->second.empty()) {
        return false;
    }
    value = 0;
    for (const char c : it->second) {
        if (c < '0' || c > '9') {
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (digit > limit || value > (limit - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    return true;
}

}  // namespace

std::string SerializeState(const SimConfig& config, InstrumentModel& model)
{
    std::ostringstream out;
    out << kHeader << '\n';
    const std::vector<InstrumentState>& instruments = model.Instruments();
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        const InstrumentState& state = instruments[i];
        out << "instrument serial=" << ToHex(state.serial)
            << " fingerprint=" << FingerprintHash(state.serial, config.instruments.at(i))
            << " update=" << (state.updateMode ? 1 : 0) << " versions=" << ToHex(state.versions)
            << " queued=" << ToHex(state.queuedReply) << " image_bytes=" << state.imageBytes
            << " image_crc=" << state.imageCrc << " update_bytes=" << state.updateBytes
            << " images=" << state.imagesDone << " last_write=" << state.lastDataWrite
            << " short_done=" << (state.shortWriteDone ? 1 : 0) << " unplugged=" << (state.unplugged ? 1 : 0)
            << " unplug_done=" << (state.unplugDone ? 1 : 0) << " update_since=" << state.updateSinceUs
            << " script=" << state.scriptPosition << " endframe_reply_due=" << (state.endFrameReplyDue ? 1 : 0)
            << " accepted=" << (state.imageAccepted ? 1 : 0) << " off=" << (state.switchedOff ? 1 : 0) << '\n';
    }
    return out.str();
}

namespace {

struct SavedInstrument {
    std::string fingerprint;
    InstrumentState state;
};

// False when any field is missing or out of range.
bool ParseInstrument(const std::string& line, SavedInstrument& saved)
{
    const auto fields = Fields(line);
    InstrumentState& state = saved.state;
    const auto text = [&](const char* key) { return fields.count(key) != 0 ? fields.at(key) : std::string(); };
    saved.fingerprint = text("fingerprint");
    if (line.rfind("instrument ", 0) != 0 || saved.fingerprint.empty() || !FromHex(text("serial"), state.serial) ||
        !FromHex(text("versions"), state.versions) || !FromHex(text("queued"), state.queuedReply)) {
        return false;
    }
    std::uint64_t update = 0;
    std::uint64_t crc = 0;
    std::uint64_t images = 0;
    std::uint64_t lastWrite = 0;
    std::uint64_t shortDone = 0;
    std::uint64_t unplugged = 0;
    std::uint64_t unplugDone = 0;
    std::uint64_t script = 0;
    std::uint64_t replyDue = 0;
    std::uint64_t accepted = 0;
    std::uint64_t off = 0;
    if (!Number(fields, "update", 1, update) || !Number(fields, "image_bytes", UINT64_MAX, state.imageBytes) ||
        !Number(fields, "image_crc", UINT32_MAX, crc) ||
        !Number(fields, "update_bytes", UINT64_MAX, state.updateBytes) ||
        !Number(fields, "images", UINT32_MAX, images) || !Number(fields, "last_write", UINT32_MAX, lastWrite) ||
        !Number(fields, "short_done", 1, shortDone) || !Number(fields, "unplugged", 1, unplugged) ||
        !Number(fields, "unplug_done", 1, unplugDone) ||
        !Number(fields, "update_since", UINT64_MAX, state.updateSinceUs) ||
        !Number(fields, "script", SIZE_MAX, script) || !Number(fields, "endframe_reply_due", 1, replyDue) ||
        !Number(fields, "accepted", 1, accepted) || !Number(fields, "off", 1, off)) {
        return false;
    }
    state.endFrameReplyDue = replyDue != 0;
    state.imageAccepted = accepted != 0;
    state.switchedOff = off != 0;
    state.updateMode = update != 0;
    state.imageCrc = static_cast<std::uint32_t>(crc);
    state.imagesDone = static_cast<std::uint32_t>(images);
    state.lastDataWrite = static_cast<std::uint32_t>(lastWrite);
    state.shortWriteDone = shortDone != 0;
    state.unplugged = unplugged != 0;
    state.unplugDone = unplugDone != 0;
    state.scriptPosition = static_cast<std::size_t>(script);
    return true;
}

}  // namespace

bool RestoreState(const std::string& text, const SimConfig& config, InstrumentModel& model)
{
    // Every line is saved whole, so a file cut short ends without its line feed.
    if (text.empty() || text.back() != '\n') {
        return false;
    }
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kHeader) {
        return false;
    }
    std::vector<SavedInstrument> saved;
    while (std::getline(in, line)) {
        SavedInstrument instrument;
        if (!ParseInstrument(line, instrument)) {
            return false;
        }
        saved.push_back(instrument);
    }
    std::vector<InstrumentState>& instruments = model.Instruments();
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        const std::string fingerprint = FingerprintHash(instruments[i].serial, config.instruments.at(i));
        bool restored = false;
        for (const SavedInstrument& instrument : saved) {
            if (instrument.state.serial == instruments[i].serial && instrument.fingerprint == fingerprint) {
                instruments[i] = instrument.state;
                restored = true;
                break;
            }
        }
        // Configured otherwise since: it starts from power-on, and the file
        // is to say so.
        model.dirty = model.dirty || !restored;
    }
    return true;
}

void SaveState(const SimConfig& config, InstrumentModel& model, bool unloading)
{
    if (config.statePath.empty() && !unloading) {
        return;
    }
    const std::string text = SerializeState(config, model);
    model.dirty = false;
    if (config.statePath.empty()) {
        SetEnvironmentText(kEnvironmentStore, text);
        return;
    }
    std::ofstream file(config.statePath, std::ios::binary | std::ios::trunc);
    file << text;
}

bool LoadState(const SimConfig& config, InstrumentModel& model)
{
    std::string text;
    if (config.statePath.empty()) {
        const auto stored = GetEnvironmentText(kEnvironmentStore);
        if (!stored) {
            return false;
        }
        text = *stored;
    } else {
        std::ifstream file(config.statePath, std::ios::binary);
        if (!file) {
            return false;
        }
        std::ostringstream content;
        content << file.rdbuf();
        text = content.str();
    }
    model.dirty = false;
    return RestoreState(text, config, model);
}

}  // namespace zqsim
