#include "cli/instruments.h"

#include "cli/console_port.h"
#include "cli/usb_access.h"
#include "platform/clock.h"
#include "platform/joined_text.h"
#include "update/exit_codes.h"
#include "update/not_found_text.h"
#include "update/update_driver.h"

#include <algorithm>

namespace meterload::cli {
namespace {

std::string SerialList(const InstrumentSearch& search)
{
    return Joined(search.instruments, [](const FoundInstrument& found) { return found.serial; });
}

}  // namespace

Attached FindInstruments(const VisaLibraryChoice& library)
{
    InstrumentConnection connection(SystemClock(), library.library);
    Attached attached{connection.FindAll(), {}};
    switch (connection.Failure()) {
    case OpenFailure::LibraryMissing:
        attached.problem = {kVisaLibrary,
                            "The VISA library cannot be loaded (" + connection.Diagnostic() +
                                "); tried: " + Joined(library.tried) + ".",
                            "Install a VISA library, or name one with --visa-library PATH or "
                            "METERLOAD_VISA_LIBRARY."};
        break;
    case OpenFailure::FunctionMissing:
        attached.problem = {kVisaLibrary, "The VISA library is incomplete: " + connection.Diagnostic() + ".",
                            "Install a complete VISA library, or name another with --visa-library PATH."};
        break;
    case OpenFailure::ResourceManager:
        attached.problem = {kVisaLibrary, "The VISA resource manager did not open (" + connection.Diagnostic() + ").",
                            "Check the VISA installation, then run the command again."};
        break;
    case OpenFailure::None:
    case OpenFailure::NotFound: break;
    }
    if (!attached.problem && attached.search.instruments.empty() && library.builtInTransport) {
        // Found on the bus but not openable: the user is told why, not just "not found".
        const std::vector<std::string> denied = UnreachableMeterNodes();
        if (!denied.empty()) {
            attached.problem = {
                kNoInstrument,
                "A ZQ6140 is attached at " + denied.front() +
                    ", but this user may not open that device node (permission denied).",
                "Install the udev rule packaging/udev/70-zq6140.rules as /usr/lib/udev/rules.d/70-zq6140.rules "
                "(the Debian package does), run `udevadm control --reload` and plug the meter in again; over ssh "
                "or from a service the user must be in the plugdev group (`sudo adduser USER plugdev`, then log "
                "in again); or run as root."};
        }
    }
    return attached;
}

Chosen ChooseInstrument(const InstrumentSearch& search, const std::string& serial)
{
    Chosen chosen;
    if (search.instruments.empty()) {
        chosen.problem = NotFoundProblem();
        return chosen;
    }
    if (!serial.empty()) {
        for (const FoundInstrument& found : search.instruments) {
            if (found.serial == serial) {
                chosen.instrument = found;
                return chosen;
            }
        }
        chosen.problem = {kNoInstrument,
                          "ZQ6140 device not found: none has the serial number " + serial +
                              " (attached: " + SerialList(search) + ").",
                          "Name one of the attached instruments with --serial."};
        return chosen;
    }
    if (search.instruments.size() > 1) {
        chosen.problem = {kNoInstrument, "Several ZQ6140 are attached: " + SerialList(search) + ".",
                          "Choose one with --serial SERIAL."};
        return chosen;
    }
    chosen.instrument = search.instruments.front();
    return chosen;
}

std::vector<std::string> Distinct(const std::vector<std::string>& serials)
{
    std::vector<std::string> distinct;
    for (const std::string& serial : serials) {
        if (std::find(distinct.begin(), distinct.end(), serial) == distinct.end()) {
            distinct.push_back(serial);
        }
    }
    return distinct;
}

std::vector<Chosen> ChooseEach(const InstrumentSearch& search, const std::vector<std::string>& serials)
{
    std::vector<Chosen> each;
    if (serials.empty()) {
        for (const FoundInstrument& found : search.instruments) {
            each.push_back({found, {}});
        }
        return each;
    }
    for (const std::string& serial : serials) {
        Chosen chosen = ChooseInstrument(search, serial);
        if (chosen.problem) {
            chosen.instrument.serial = serial;
        }
        each.push_back(chosen);
    }
    return each;
}

Selected SelectInstrument(const std::string& visaLibraryOption, const std::string& serial)
{
    Selected selected{ChooseVisaLibrary(visaLibraryOption), {}, {}};
    const Attached attached = FindInstruments(selected.library);
    if (attached.problem) {
        selected.problem = attached.problem;
        return selected;
    }
    const Chosen chosen = ChooseInstrument(attached.search, serial);
    selected.instrument = chosen.instrument;
    selected.problem = chosen.problem;
    return selected;
}

Identification Identify(const std::string& library, const std::string& serial)
{
    ConsolePort port;
    port.SetQuiet(true);
    UpdateDriver driver(UpdateContext{port, SystemClock(), library, serial});
    const UpdateDriver::Identification identified = driver.Identify();
    Identification identification;
    identification.answered = identified.found == UpdateDriver::Found::Instrument;
    identification.wrongMode = identified.found == UpdateDriver::Found::WrongMode;
    if (identification.answered) {
        identification.firmwareVersionField = identified.firmwareVersionField;
        identification.versions = DecodeFirmwareVersions(identified.firmwareVersionField);
    }
    return identification;
}

nlohmann::json InstrumentJson(const FoundInstrument& instrument)
{
    return {{"serial", instrument.serial}, {"resource", instrument.resource}};
}

nlohmann::json IdentificationJson(const Identification& identification)
{
    if (!identification.answered) {
        return {{"mode", identification.wrongMode ? "wrong mode" : "not found"}};
    }
    return {{"mode", "normal"},
            {"firmware_version_field", identification.firmwareVersionField},
            {"dsp", identification.versions.dsp},
            {"panel", identification.versions.panel},
            {"msp430", identification.versions.msp430}};
}

std::string IdentificationText(const Identification& identification)
{
    if (!identification.answered) {
        return identification.wrongMode ? "wrong mode" : "not found";
    }
    return "DSP " + identification.versions.dsp + ", Panel " + identification.versions.panel + ", MSP 430 " +
           identification.versions.msp430;
}

Problem NotFoundProblem(Sought sought)
{
    const char* const message = kDeviceNotFoundText;
    switch (sought) {
    case Sought::One:
        return {kNoInstrument, message, "Attach the instrument, switch it on, and run the command again."};
    case Sought::Several:
        return {kNoInstrument, message, "Attach the instruments, switch them on, and run the command again."};
    }
    return {};
}

Problem WrongModeProblem()
{
    return {kInstrumentFault, "Incorrect mode. Please recycle power on instrument and try again.",
            "The instrument did not answer with its versions; switch it off and on, then run the "
            "command again."};
}

}  // namespace meterload::cli
