// Finding the attached instruments, choosing the one a command works on, and
// asking one for its identification, with what to tell the user when that
// fails.
#pragma once

#include "cli/problem.h"
#include "cli/visa_library.h"
#include "firmware/firmware_versions.h"
#include "link/instrument_connection.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace meterload::cli {

struct Attached {
    InstrumentSearch search;
    Problem problem;  // set when the library could not be used
};
Attached FindInstruments(const VisaLibraryChoice& library);

struct Chosen {
    FoundInstrument instrument;
    Problem problem;  // none attached, the named one absent, or several and none named
};
// The instrument named by `serial`, or the only one when `serial` is empty.
Chosen ChooseInstrument(const InstrumentSearch& search, const std::string& serial);

// The serial numbers given, each once, in the order first given.
std::vector<std::string> Distinct(const std::vector<std::string>& serials);

// Every attached instrument when `serials` is empty, otherwise each one
// named, in the order given: one not attached keeps its serial number and
// its problem.
std::vector<Chosen> ChooseEach(const InstrumentSearch& search, const std::vector<std::string>& serials);

struct Selected {
    VisaLibraryChoice library;
    FoundInstrument instrument;
    Problem problem;  // the library's, or the choice's
};
// The VISA library chosen, then the instrument: what every command that
// works on one instrument starts with.
Selected SelectInstrument(const std::string& visaLibraryOption, const std::string& serial);

struct Identification {
    bool answered = false;   // the identification reply carried versions
    bool wrongMode = false;  // no usable reply, or still in update mode
    std::string firmwareVersionField;
    FirmwareVersions versions;
};
// The identification exchange of every update, on the instrument `serial`.
Identification Identify(const std::string& library, const std::string& serial);

nlohmann::json InstrumentJson(const FoundInstrument& instrument);
nlohmann::json IdentificationJson(const Identification& identification);
// "DSP 02.05, Panel 11, MSP 430 07", or "wrong mode".
std::string IdentificationText(const Identification& identification);

// The problem of a wrong-mode or silent instrument, in the dialog's words.
Problem WrongModeProblem();

// Whom the next step of a not-found problem addresses: the one instrument of
// most commands, or the several of an install or verify on many.
enum class Sought { One, Several };

// The problem when no ZQ6140 is attached, in the dialog's words.
Problem NotFoundProblem(Sought sought = Sought::One);

}  // namespace meterload::cli
