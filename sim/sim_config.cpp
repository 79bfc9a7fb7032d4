#include "sim/sim_config.h"

#include "sim/process_environment.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace zqsim {
namespace {

const char* const kKeys[] = {"serials",           "enumerate",          "versions",          "idn",
                             "mode",              "replies",            "fail_write_after",  "short_write_after",
                             "fail_endframe",     "fail_endframe_at",   "unplug_after_bytes", "unplug_after_images",
                             "unplug_after_ms",   "no_rm",              "state",             "transcript",
                             "record"};

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

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const int lower = std::tolower(static_cast<unsigned char>(c));
    if (lower >= 'a' && lower <= 'f') {
        return lower - 'a' + 10;
    }
    return -1;
}

bool DecodeHex(const std::string& text, std::string& bytes)
{
    if (text.empty() || text.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

bool ParseReply(const std::string& item, ScriptedReply& reply)
{
    if (item == "none") {
        reply.silent = true;
        return true;
    }
    if (item.rfind("hex:", 0) == 0) {
        return DecodeHex(item.substr(4), reply.bytes);
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

bool ApplyEntry(const std::string& key, const std::string& value, SimConfig& config)
{
    if (key == "serials") {
        std::vector<std::string> serials = SplitList(value);
        for (const std::string& serial : serials) {
            if (serial.empty() || serial.size() > kLongestSerial || serial.find(':') != std::string::npos ||
                serial.find_first_of(" \t") != std::string::npos) {
                return false;
            }
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
    if (key == "versions") {
        config.versions = value;
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

std::string EnvironmentName(const std::string& key)
{
    std::string name = "ZQSIM_";
    for (const char c : key) {
        name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return name;
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
            while (digits < 2 && i + 1 < text.size() && HexDigit(text[i + 1]) >= 0) {
                value = value * 16 + HexDigit(text[++i]);
                ++digits;
            }
            if (digits == 0) {
                return false;
            }
            decoded.push_back(static_cast<char>(value));
            break;
        }
        default:
            return false;
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
            !ApplyEntry(Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1)), config)) {
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
    for (const char* key : kKeys) {
        const std::string name = EnvironmentName(key);
        if (const auto value = GetEnvironmentText(name.c_str())) {
            if (!ApplyEntry(key, Trim(*value), loaded)) {
                errors.push_back(name + "=" + *value);
            }
        }
    }
    config = loaded;
    return true;
}

std::string SimConfig::Fingerprint() const
{
    std::ostringstream out;
    for (const std::string& serial : serials) {
        out << serial << ',';
    }
    out << '|' << static_cast<int>(enumerate) << '|' << versions << '|' << (idn ? "1" + *idn : "0") << '|'
        << startInUpdateMode << '|';
    for (const ScriptedReply& reply : replies) {
        out << (reply.silent ? "-" : reply.bytes) << ',';
    }
    out << '|' << (failWriteAfter ? std::to_string(*failWriteAfter) : "-") << '|'
        << (shortWriteAfter ? std::to_string(*shortWriteAfter) : "-") << '|' << failEndFrame << '|'
        << (failEndFrameAt ? std::to_string(*failEndFrameAt) : "-") << '|' << noResourceManager;
    for (const auto& unplug : {unplugAfterBytes, unplugAfterImages, unplugAfterMs}) {
        out << '|' << (unplug ? std::to_string(*unplug) : "-");
    }
    return out.str();
}

}  // namespace zqsim
