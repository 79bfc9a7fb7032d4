#include "update/update_history.h"

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/locked_append.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace meterload {

namespace {

using nlohmann::json;

// Days since 1970-01-01 to a civil date (proleptic Gregorian), without
// gmtime, which is not safe across threads.
void CivilDate(std::int64_t days, int& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

json ToJson(const UpdateRecord& r)
{
    // A verification carries every key of an update too, so that a reader
    // that knows only updates still takes the line whole.
    json j = {{"time", r.time},
              {"serial", r.serial},
              {"firmware_version_field", r.firmwareVersionField},
              {"file", r.file},
              {"path", r.path},
              {"size", r.size},
              {"sha256", r.sha256},
              {"kind", r.package ? "package" : "image"}};
    if (r.package) {
        j["entry_count"] = r.entryCount;
    }
    j["result"] = r.result;
    if (!r.reason.empty()) {
        j["reason"] = r.reason;
    }
    if (!r.reasonKey.empty()) {
        j["reason_key"] = r.reasonKey;
    }
    j["duration_ms"] = r.durationMs;
    if (r.verification) {
        j["record"] = "verification";
    }
    return j;
}

// Throws on a line that is not a whole record.
UpdateRecord FromJson(const json& j)
{
    UpdateRecord r;
    r.time = j.at("time").get<std::string>();
    r.serial = j.at("serial").get<std::string>();
    r.firmwareVersionField = j.at("firmware_version_field").get<std::string>();
    r.file = j.at("file").get<std::string>();
    r.path = j.value("path", std::string());
    r.size = j.at("size").get<std::int64_t>();
    r.sha256 = j.at("sha256").get<std::string>();
    r.package = j.at("kind").get<std::string>() == "package";
    r.entryCount = j.value("entry_count", 0);
    r.result = j.at("result").get<std::string>();
    r.reason = j.value("reason", std::string());
    // Records written before the keys existed have none.
    r.reasonKey = j.value("reason_key", std::string());
    r.durationMs = j.at("duration_ms").get<std::int64_t>();
    // Records written before verifications existed have no "record" key.
    r.verification = j.value("record", std::string("update")) == "verification";
    return r;
}

}  // namespace

std::string HistoryPath()
{
    if (std::optional<std::string> chosen = NonEmptyEnvironmentText("METERLOAD_HISTORY")) {
        return *chosen;
    }
    const std::string folder = UserStateFolder();
    if (folder.empty()) {
        return folder;
    }
    const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
    return folder + separator + "history.jsonl";
}

std::string RecordLine(const UpdateRecord& record)
{
    // Bytes that are not UTF-8 (ANSI file names) are replaced, never refused.
    return ToJson(record).dump(-1, ' ', false, json::error_handler_t::replace);
}

bool AppendRecord(const std::string& path, const UpdateRecord& record, std::string& error)
{
    if (path.empty()) {
        error = "no history file: neither METERLOAD_HISTORY nor the user's state folder is set";
        return false;
    }
    return AppendLocked(path, RecordLine(record) + "\n", error);
}

History ReadHistory(const std::string& path)
{
    History history;
    // Opened through the platform, which takes the path as UTF-8 everywhere:
    // a profile folder named outside the code page still has its history.
    const auto file = File::Open(path);
    if (!file) {
        return history;
    }
    history.found = true;
    std::string text;
    char block[64 * 1024];
    for (std::int64_t n; (n = file->Read(block, sizeof block)) > 0;) {
        text.append(block, static_cast<std::size_t>(n));
    }
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        try {
            history.records.push_back(FromJson(json::parse(line)));
        } catch (const std::exception& error) {
            history.warnings.push_back(path + ":" + std::to_string(number) + ": damaged record skipped (" +
                                       error.what() + ")");
        }
    }
    // Appends land in the order updates end; the newest start comes first.
    std::reverse(history.records.begin(), history.records.end());
    std::stable_sort(history.records.begin(), history.records.end(),
                     [](const UpdateRecord& a, const UpdateRecord& b) { return a.time > b.time; });
    return history;
}

std::vector<HistoryEntry> PairVerifications(const std::vector<UpdateRecord>& records)
{
    std::vector<HistoryEntry> entries;
    std::vector<bool> dropped;
    // Per serial number: the entry of the newest verification not yet given
    // to an update, while walking from the newest record back.
    std::map<std::string, std::size_t> pending;
    for (const UpdateRecord& record : records) {
        const auto waiting = pending.find(record.serial);
        if (record.verification) {
            const bool superseded = waiting != pending.end() && entries[waiting->second].record.sha256 == record.sha256;
            entries.push_back({record, std::nullopt});
            dropped.push_back(superseded);
            if (waiting == pending.end()) {
                pending[record.serial] = entries.size() - 1;
            }
            continue;
        }
        entries.push_back({record, std::nullopt});
        dropped.push_back(false);
        if (waiting == pending.end()) {
            continue;
        }
        const UpdateRecord& verification = entries[waiting->second].record;
        if (record.result == "done" && !record.sha256.empty() && verification.sha256 == record.sha256) {
            entries.back().verification = verification;
            dropped[waiting->second] = true;
        }
        // Whatever it verified, it came after this update.
        pending.erase(waiting);
    }
    std::vector<HistoryEntry> kept;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!dropped[i]) {
            kept.push_back(std::move(entries[i]));
        }
    }
    return kept;
}

void HistoryFile::Record(const UpdateRecord& record)
{
    std::string error;
    try {
        if (AppendRecord(path_, record, error)) {
            return;
        }
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    if (warn_) {
        warn_(error);
    }
}

std::string UtcNow()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const std::int64_t secondsOfDay = ((ms / 1000) % 86400 + 86400) % 86400;
    const std::int64_t days = (ms / 1000 - secondsOfDay) / 86400;
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilDate(days, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", year, month, day,
                  static_cast<int>(secondsOfDay / 3600), static_cast<int>(secondsOfDay / 60 % 60),
                  static_cast<int>(secondsOfDay % 60), static_cast<int>(ms % 1000));
    return text;
}

}  // namespace meterload
