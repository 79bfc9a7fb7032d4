// One instrument's install: the dialog's update procedure on it, watched by
// the command line (the say before update mode, progress, Ctrl+C, the
// history), and what its outcome means for the exit code. The same for one
// instrument alone and for each of several at once.
#pragma once

#include "cli/file_facts.h"
#include "cli/progress.h"
#include "link/instrument_connection.h"
#include "update/stop_reasons.h"
#include "update/verify_results.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace meterload::cli {

// Whatever every instrument of one install shares.
struct InstallSettings {
    const FileFacts& facts;
    bool dryRun = false;
    bool yes = false;
    std::string visaLibrary;            // what each connection binds
    std::string historyPath;            // read once, before any thread starts
    bool libraryHeldElsewhere = false;  // one load of the library kept for every instrument
    bool verify = false;                // wait for each power cycle and ask again
    std::chrono::seconds verifyTimeout{300};
};

// Where one instrument's run speaks and asks.
struct InstallHooks {
    // Every line about this instrument: the procedure's texts and the command's own.
    std::function<void(const std::string&)> say;
    // The instrument's line of the say before update mode, once its versions
    // are known and the file passed them.
    std::function<void(const std::string&)> plan;
    // Whether to switch it into update mode; asked unless --yes or --dry-run.
    std::function<bool()> confirm;
};

// Whether the instrument runs what the file carries (`verify`, `install --verify`).
struct VerifyOutcome {
    VerifyResult result = VerifyResult::NotVerified;
    std::string detail;                               // what it reports, or why there is no verdict
    std::optional<std::string> firmwareVersionField;  // once it answered
    std::chrono::milliseconds waited{0};              // for the power cycle
};

struct InstallOutcome {
    InstallResult result = InstallResult::Installed;
    std::string reasonKey;  // why the update stopped, as the history keeps it
    int code = 0;
    std::string message;                              // the outcome in one line, when there is one to tell
    std::string next;                                 // what to do about it
    std::optional<std::string> firmwareVersionField;  // once identified
    bool updateModeEntered = false;
    std::vector<std::string> log;
    std::vector<std::string> boxes;
    std::chrono::milliseconds elapsed{0};
    std::optional<VerifyOutcome> verification;  // install --verify, once it was installed
};

InstallOutcome InstallOn(const FoundInstrument& instrument, const InstallSettings& settings, const InstallHooks& hooks,
                         Progress& progress);

// About how long the instrument stays in update mode for this file.
std::chrono::milliseconds UpdateModeDuration(const FileFacts& facts);

// The say before update mode: the instrument's line ("Instrument: ..."), and
// the file's ("File: ...", "Transfer: ...").
std::string InstrumentLine(const FoundInstrument& instrument, const FirmwareVersions& versions);
std::vector<std::string> FileLines(const FileFacts& facts);

// Asks `question` on the terminal; false unless the answer is yes.
bool AskYes(const std::string& question);

// The sizes of the images in the order they are sent, for the progress.
std::vector<std::uint64_t> SentSizes(const FileFacts& facts);

}  // namespace meterload::cli
