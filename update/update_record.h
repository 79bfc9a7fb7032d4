// One update, or one verification of an update, as the user's history keeps
// it, and who keeps it.
#pragma once

#include <cstdint>
#include <string>

namespace meterload {

struct UpdateRecord {
    // A verification: the instrument asked again after the power cycle.
    // Its time is when it was asked, its versions field what it reported,
    // its result "verified", "not verified" or "not checked", and its
    // duration the wait for the power cycle.
    bool verification = false;
    std::string time;  // UTC, ISO 8601, when the file was chosen
    std::string serial;
    std::string firmwareVersionField;  // before the update
    std::string file;                  // the file's name
    std::string path;
    std::int64_t size = -1;  // -1: could not be told
    std::string sha256;      // empty: could not be read
    bool package = false;
    std::int32_t entryCount = 0;  // packages only
    std::string result;           // "done", "refused" or "failed"
    std::string reason;           // the refusal text or why it failed
    std::string reasonKey;        // why it ended, as a stable key ("version_gate"); updates only
    std::int64_t durationMs = 0;
};

class UpdateRecorder {
public:
    virtual ~UpdateRecorder() = default;
    // Must not throw and must not change the update's outcome, whatever happens.
    virtual void Record(const UpdateRecord& record) = 0;
};

}  // namespace meterload
