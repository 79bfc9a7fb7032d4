#include "sim/sim_config.h"

#include "platform/hex_text.h"
#include "sim/process_environment.h"
#include "visa_surface/resource_name.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace zqsim {

using namespace visa_surface;  // NOLINT: VISA codes and names read best unqualified

namespace {

// Keys that describe one instrument: each also has the form SERIAL.key.
const char* const kInstrumentKeys[] = {
    "versions",       "received_versions", "received_mode",      "idn",
    "mode",           "replies",           "fail_write_after",   "short_write_after",
    "fail_endframe",  "fail_endframe_at",  "unplug_after_bytes", "unplug_after_images",
    "unplug_after_ms"};
// Keys of the whole simulated bus.
const char* const kBusKeys[] = {"serials",    "enumerate", "no_rm",          "state",
                                "transcript", "record",    "power_switches", "write_gates"};

// So that "USB0::0x1D47::0x0B62::<serial>::INSTR" fits the 256 bytes that
// VISA gives a resource descriptor, zero byte included.
constexpr std::size_t kLongestSerial = 255 - 29;

std::string Trim(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])) != 0) {
        ++begin;
    }
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> items;
    if (Trim(text).empty()) {
        return items;
    }
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        items.push_back(Trim(item));
    }
    if (!text.empty() && text.back() == ',') {
        items.emplace_back();
    }
    return items;
}

bool ParseReply(const std::string& item, ScriptedReply& reply)
{
    if (item == "none") {
        reply.silent = true;
        return true;
    }
    if (item.rfind("hex:", 0) == 0) {
        const auto bytes = meterload::FromHexText(item.substr(4));
        if (!bytes || bytes->empty()) {
            return false;
        }
        reply.bytes = *bytes;
        return true;
    }
    if (item.size() == 3 && (item[0] == 'a' || item[0] == 'A') && (item[1] == 'b' || item[1] == 'B')) {
        reply.bytes = std::string(1, static_cast<char>(0xAB)) + item[2];
        return true;
    }
    if (item.size() == 1 && std::isgraph(static_cast<unsigned char>(item[0])) != 0) {
        reply.bytes = item;
        return true;
    }
    return false;
}

bool ParseCount(const std::string& value, std::optional<std::uint64_t>& count)
{
    if (value.empty() || value == "off") {
        count.reset();
        return true;
    }
    std::uint64_t number = 0;
    for (const char c : value) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0 || number > (UINT64_MAX - 9) / 10) {
            return false;
        }
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    count = number;
    return true;
}

bool ParseFlag(const std::string& value, bool& flag)
{
    if (value == "1" || value == "yes" || value == "true") {
        flag = true;
        return true;
    }
    if (value.empty() || value == "0" || value == "no" || value == "false") {
        flag = false;
        return true;
    }
    return false;
}

bool IsInstrumentKey(const std::string& key)
{
    for (const char* name : kInstrumentKeys) {
        if (key == name) {
            return true;
        }
    }
    return false;
}

// `key` is one of kInstrumentKeys.
bool ApplyInstrumentEntry(const std::string& key, const std::string& value, InstrumentConfig& config)
{
    if (key == "versions") {
        config.versions = value;
        return true;
    }
    if (key == "received_versions") {
        config.receivedVersions = value;
        if (value.empty() || value == "off") {
            config.receivedVersions.reset();
        }
        return true;
    }
    if (key == "received_mode") {
        if (value.empty() || value == "off") {
            config.receivedInUpdateMode.reset();
            return true;
        }
        if (value != "normal" && value != "update") {
            return false;
        }
        config.receivedInUpdateMode = value == "update";
        return true;
    }
    if (key == "idn") {
        std::string decoded;
        if (!DecodeEscapes(value, decoded)) {
            return false;
        }
        config.idn = decoded;
        return true;
    }
    if (key == "mode") {
        if (value != "normal" && value != "update") {
            return false;
        }
        config.startInUpdateMode = value == "update";
        return true;
    }
    if (key == "replies") {
        std::vector<ScriptedReply> replies;
        for (const std::string& item : SplitList(value)) {
            ScriptedReply reply;
            if (!ParseReply(item, reply)) {
                return false;
            }
            replies.push_back(reply);
        }
        config.replies = replies;
        return true;
    }
    if (key == "fail_write_after") {
        return ParseCount(value, config.failWriteAfter);
    }
    if (key == "short_write_after") {
        return ParseCount(value, config.shortWriteAfter);
    }
    if (key == "fail_endframe") {
        return ParseFlag(value, config.failEndFrame);
    }
    if (key == "fail_endframe_at") {
        return ParseCount(value, config.failEndFrameAt);
    }
    if (key == "unplug_after_bytes") {
        return ParseCount(value, config.unplugAfterBytes);
    }
    if (key == "unplug_after_images") {
        return ParseCount(value, config.unplugAfterImages);
    }
    if (key == "unplug_after_ms") {
        return ParseCount(value, config.unplugAfterMs);
    }
    return false;
}

// A per-serial setting is checked now and applied once the serials are known.
bool AddSerialSetting(const std::string& serial, const std::string& key, const std::string& value,
                      const std::string& line, SimConfig& config)
{
    InstrumentConfig scratch;
    if (serial.empty() || !IsInstrumentKey(key) || !ApplyInstrumentEntry(key, value, scratch)) {
        return false;
    }
    config.serialSettings.push_back(SerialSetting{serial, key, value, line});
    return true;
}

bool ParseSerials(const std::string& value, std::vector<std::string>& serials)
{
    serials = SplitList(value);
    if (serials.size() > kMostInstruments) {
        return false;
    }
    for (std::size_t i = 0; i < serials.size(); ++i) {
        const std::string& serial = serials[i];
        if (serial.empty() || serial.size() > kLongestSerial || serial.find(':') != std::string::npos ||
            serial.find_first_of(" \t") != std::string::npos) {
            return false;
        }
        // Resource names ignore case, so these would be one instrument twice.
        for (std::size_t j = 0; j < i; ++j) {
            if (EqualsIgnoringCase(serials[j], serial)) {
                return false;
            }
        }
    }
    return true;
}

bool ApplyEntry(const std::string& key, const std::string& value, const std::string& line, SimConfig& config)
{
    // The key names have no dot, so a serial may.
    if (const std::size_t dot = key.rfind('.'); dot != std::string::npos) {
        return AddSerialSetting(Trim(key.substr(0, dot)), Trim(key.substr(dot + 1)), value, line, config);
    }
    if (IsInstrumentKey(key)) {
        return ApplyInstrumentEntry(key, value, config.defaults);
    }
    if (key == "serials") {
        std::vector<std::string> serials;
        if (!ParseSerials(value, serials)) {
            return false;
        }
        config.serials = serials;
        return true;
    }
    if (key == "enumerate") {
        if (value == "hex") {
            config.enumerate = Enumeration::Hex;
        } else if (value == "decimal") {
            config.enumerate = Enumeration::Decimal;
        } else if (value == "both") {
            config.enumerate = Enumeration::Both;
        } else {
            return false;
        }
        return true;
    }
    if (key == "no_rm") {
        return ParseFlag(value, config.noResourceManager);
    }
    if (key == "state") {
        config.statePath = value;
        return true;
    }
    if (key == "transcript") {
        config.transcriptPath = value;
        return true;
    }
    if (key == "power_switches") {
        config.powerSwitchesPath = value;
        return true;
    }
    if (key == "write_gates") {
        config.writeGatesPath = value;
        return true;
    }
    if (key == "record") {
        if (value == "full") {
            config.record = RecordLevel::Full;
        } else if (value == "counts") {
            config.record = RecordLevel::Counts;
        } else if (value == "off") {
            config.record = RecordLevel::Off;
        } else {
            return false;
        }
        return true;
    }
    return false;
}

std::string Upper(const std::string& text)
{
    std::string upper;
    for (const char c : text) {
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return upper;
}

// ZQSIM_<KEY> for the plain keys, ZQSIM_<SERIAL>_<KEY> for one instrument's.
void ApplyEnvironment(SimConfig& config, std::vector<std::string>& errors)
{
    const auto applyPlain = [&](const char* key) {
        const std::string name = "ZQSIM_" + Upper(key);
        if (const auto value = GetEnvironmentText(name.c_str())) {
            if (!ApplyEntry(key, Trim(*value), name + "=" + *value, config)) {
                errors.push_back(name + "=" + *value);
            }
        }
    };
    for (const char* key : kBusKeys) {
        applyPlain(key);
    }
    for (const char* key : kInstrumentKeys) {
        applyPlain(key);
    }
    // Looked up by the serials attached, since a name cannot be split back
    // into serial and key.
    for (const std::string& serial : config.serials) {
        for (const char* key : kInstrumentKeys) {
            const std::string name = "ZQSIM_" + Upper(serial) + "_" + Upper(key);
            if (const auto value = GetEnvironmentText(name.c_str())) {
                if (!AddSerialSetting(serial, key, Trim(*value), name + "=" + *value, config)) {
                    errors.push_back(name + "=" + *value);
                }
            }
        }
    }
}

// Each instrument's settings: the plain keys, then its serial's settings in
// the order they were read. Lists the settings whose serial is not attached.
void ResolveInstruments(SimConfig& config, std::vector<std::string>& unattached)
{
    config.instruments.assign(config.serials.size(), config.defaults);
    for (const SerialSetting& setting : config.serialSettings) {
        std::size_t index = 0;
        while (index < config.serials.size() && !EqualsIgnoringCase(config.serials[index], setting.serial)) {
            ++index;
        }
        if (index == config.serials.size()) {
            unattached.push_back(setting.line);
            continue;
        }
        ApplyInstrumentEntry(setting.key, setting.value, config.instruments[index]);
    }
}

}  // namespace

bool DecodeEscapes(const std::string& text, std::string& decoded)
{
    decoded.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            decoded.push_back(text[i]);
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        switch (text[i]) {
        case 'n': decoded.push_back('\n'); break;
        case 'r': decoded.push_back('\r'); break;
        case 't': decoded.push_back('\t'); break;
        case '\\': decoded.push_back('\\'); break;
        case '"': decoded.push_back('"'); break;
        case 'x': {
            int value = 0;
            int digits = 0;
            while (digits < 2 && i + 1 < text.size() && meterload::HexDigitValue(text[i + 1]) >= 0) {
                value = value * 16 + meterload::HexDigitValue(text[++i]);
                ++digits;
            }
            if (digits == 0) {
                return false;
            }
            decoded.push_back(static_cast<char>(value));
            break;
        }
        default: return false;
        }
    }
    return true;
}

bool ApplyConfigText(const std::string& text, SimConfig& config, std::string& badLine)
{
    std::stringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') {
            continue;
        }
        const std::size_t equals = trimmed.find('=');
        if (equals == std::string::npos ||
            !ApplyEntry(Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1)), trimmed, config)) {
            badLine = trimmed;
            return false;
        }
    }
    return true;
}

bool LoadConfig(const std::string* text, SimConfig& config, std::vector<std::string>& errors)
{
    SimConfig loaded;
    if (text != nullptr) {
        std::string badLine;
        if (!ApplyConfigText(*text, loaded, badLine)) {
            errors.push_back(badLine);
            return false;
        }
    } else if (const auto path = GetEnvironmentText("ZQSIM_CONFIG"); path && !path->empty()) {
        std::ifstream file(*path, std::ios::binary);
        if (!file) {
            errors.push_back("ZQSIM_CONFIG=" + *path + " (cannot be read)");
        }
        std::string line;
        while (std::getline(file, line)) {
            std::string badLine;
            if (!ApplyConfigText(line, loaded, badLine)) {
                errors.push_back(badLine);
            }
        }
    }
    ApplyEnvironment(loaded, errors);
    std::vector<std::string> unattached;
    ResolveInstruments(loaded, unattached);
    if (text != nullptr && !unattached.empty()) {
        errors.insert(errors.begin(), unattached.front());
        return false;
    }
    errors.insert(errors.end(), unattached.begin(), unattached.end());
    config = loaded;
    return true;
}

namespace {

// Length-prefixed, so that no two different configurations read the same.
void AddField(std::ostringstream& out, const std::string& text)
{
    out << text.size() << ':' << text << '|';
}

std::string CountText(const std::optional<std::uint64_t>& count)
{
    return count ? std::to_string(*count) : "-";
}

}  // namespace

std::string InstrumentConfig::Fingerprint() const
{
    std::ostringstream out;
    AddField(out, versions);
    AddField(out, receivedVersions ? "1" + *receivedVersions : "0");
    AddField(out, receivedInUpdateMode ? (*receivedInUpdateMode ? "update" : "normal") : "-");
    AddField(out, idn ? "1" + *idn : "0");
    AddField(out, startInUpdateMode ? "update" : "normal");
    out << replies.size() << '|';
    for (const ScriptedReply& reply : replies) {
        AddField(out, reply.silent ? "none" : "=" + reply.bytes);
    }
    for (const auto& count :
         {failWriteAfter, shortWriteAfter, failEndFrameAt, unplugAfterBytes, unplugAfterImages, unplugAfterMs}) {
        AddField(out, CountText(count));
    }
    AddField(out, failEndFrame ? "1" : "0");
    return out.str();
}

}  // namespace zqsim
