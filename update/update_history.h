// The user's update history: one JSON line per update, appended under a lock
// by every front end, read back newest first.
#pragma once

#include "update/update_record.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace meterload {

// METERLOAD_HISTORY when set, otherwise history.jsonl in the user's state
// folder; empty when neither is known.
std::string HistoryPath();

std::string RecordLine(const UpdateRecord& record);  // without the newline

// False with the reason in `error` when the record could not be written.
bool AppendRecord(const std::string& path, const UpdateRecord& record, std::string& error);

struct History {
    bool found = false;                 // the file exists and was read
    std::vector<UpdateRecord> records;  // newest first
    std::vector<std::string> warnings;  // one per damaged line, with its number
};
History ReadHistory(const std::string& path);

// One line of the history as people read it: an update with the newest
// verification of it, or a verification the history holds no update for.
struct HistoryEntry {
    UpdateRecord record;
    std::optional<UpdateRecord> verification;  // for an update only
};
// A verification belongs to the newest update of the same instrument before
// it, when that update installed the same file (SHA-256) and was done. An
// older verification of that update is left out. Newest first, as `records`.
std::vector<HistoryEntry> PairVerifications(const std::vector<UpdateRecord>& records);

// Appends to a history file; a failed append goes to `warn`, never further.
class HistoryFile final : public UpdateRecorder {
public:
    HistoryFile(std::string path, std::function<void(const std::string&)> warn)
        : path_(std::move(path)), warn_(std::move(warn))
    {
    }
    void Record(const UpdateRecord& record) override;

private:
    std::string path_;
    std::function<void(const std::string&)> warn_;
};

// "2026-12-10T14:09:53.123Z" for now.
std::string UtcNow();

}  // namespace meterload
