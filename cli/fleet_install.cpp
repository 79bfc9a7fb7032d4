#include "cli/fleet_install.h"

#include "cli/console.h"
#include "cli/fleet_summary.h"
#include "cli/install_verification.h"
#include "cli/instruments.h"
#include "cli/interrupt.h"
#include "cli/shared_answer.h"
#include "cli/table_text.h"
#include "cli/terminal.h"
#include "platform/dynamic_library.h"
#include "platform/joined_text.h"
#include "update/exit_codes.h"

#include <exception>
#include <thread>

namespace meterload::cli {
namespace {

// The instruments to update, in the table's order: every attached one, or
// each one named, found or not.
std::vector<FleetSlot> Select(const InstrumentSearch& search, const std::vector<std::string>& serials)
{
    std::vector<FleetSlot> slots;
    for (const Chosen& chosen : ChooseEach(search, serials)) {
        FleetSlot slot{chosen.instrument, !chosen.problem, {}};
        if (chosen.problem) {
            slot.outcome.result = InstallResult::NotFound;
            slot.outcome.reasonKey = FactsOf(StopReason::NotFound).key;
            slot.outcome.code = chosen.problem.code;
            slot.outcome.message = chosen.problem.message;
            slot.outcome.next = chosen.problem.next;
        }
        slots.push_back(slot);
    }
    return slots;
}

// One instrument's thread: the install as for one alone, its lines led by
// its serial number, its progress in its row.
void RunSlot(FleetSlot& slot, std::size_t row, const InstallSettings& settings, SharedAnswer& answer, bool cursor)
{
    LeaveInterruptsToOtherThreads();
    const std::string label = Printable(slot.instrument.serial);
    const auto say = [&label](const std::string& line) { TheConsole().Line(label + ": " + line); };
    Progress progress(TheConsole(), cursor, SentSizes(settings.facts), row, label);
    progress.Phase("checking");
    const InstallHooks hooks{say, say, [&answer, &progress, row] {
                                 progress.Phase("waiting for the answer");
                                 return answer.Await(row);
                             }};
    try {
        slot.outcome = InstallOn(slot.instrument, settings, hooks, progress);
    } catch (const std::exception& error) {
        // InstallOn answers for everything from the identification on; this
        // is what threw before it began, with the instrument untouched.
        slot.outcome.result = InstallResult::Failed;
        slot.outcome.code = kInstrumentFault;
        slot.outcome.message = error.what();
    }
    answer.Leave(row);
    if (settings.verify && slot.outcome.code == kDone && slot.outcome.updateModeEntered) {
        VerifyOutcome verification;
        try {
            verification = VerifyAfterPowerCycle(slot.instrument, settings, hooks, progress);
        } catch (const std::exception& error) {
            // Nothing escapes the thread: the install stands, unverified.
            verification.result = VerifyResult::NotVerified;
            verification.detail = std::string("could not be asked: ") + error.what();
        }
        ApplyVerification(slot.outcome, verification);
        progress.Phase(VerifyResultText(verification.result));
        if (verification.result != VerifyResult::NotVerified) {
            say(VerificationLine(verification));
        }
    } else {
        progress.Phase(InstallResultText(slot.outcome.result));
    }
    if (!slot.outcome.message.empty()) {
        say(slot.outcome.message);
    }
}

// One question for every instrument that passed its checks and waits.
void AskOnceForAll(SharedAnswer& answer, const std::vector<FleetSlot>& slots)
{
    const std::vector<std::size_t> waiting = answer.Gather();
    if (waiting.empty()) {
        return;
    }
    const std::string named =
        Joined(waiting, [&slots](std::size_t row) { return Printable(slots[row].instrument.serial); });
    answer.Give(!StopRequested() && AskYes("Switch these " + std::to_string(waiting.size()) +
                                           " ZQ6140 into update mode and install (" + named + ")? [y/N] "));
}

}  // namespace

int InstallOnSeveral(Report& report, const std::string& visaLibraryOption, const std::vector<std::string>& serials,
                     const InstallSettings& settings)
{
    report.Data()["instruments"] = nlohmann::json::array();
    const VisaLibraryChoice library = ChooseVisaLibrary(visaLibraryOption);
    const Attached attached = FindInstruments(library);
    if (attached.problem) {
        return report.Fail(attached.problem);
    }
    std::vector<FleetSlot> slots = Select(attached.search, serials);
    if (slots.empty()) {
        return report.Fail(NotFoundProblem(Sought::Several));
    }
    report.Data()["duration_ms"] = UpdateModeDuration(settings.facts).count();

    // One load of the library for every connection of every thread: none of
    // them unloads it under another, and each keeps its own sessions.
    DynamicLibrary held;
    held.Load(library.library);
    InstallSettings shared = settings;
    shared.visaLibrary = library.library;
    shared.libraryHeldElsewhere = true;

    TheConsole().Line("Installing on " + std::to_string(slots.size()) + " instruments: " +
                      Joined(slots, [](const FleetSlot& slot) { return Printable(slot.instrument.serial); }));
    for (const std::string& line : FileLines(settings.facts)) {
        TheConsole().Line(line);
    }
    const bool cursor = StandardErrorTakesCursorMovement();
    TheConsole().StartBoard(slots.size(), cursor, cursor ? TerminalColumns() : 80);

    SharedAnswer answer(slots.size());
    std::vector<std::thread> threads;
    for (std::size_t row = 0; row < slots.size(); ++row) {
        if (!slots[row].attached) {
            const std::string label = Printable(slots[row].instrument.serial);
            answer.Leave(row);
            TheConsole().Line(label + ": " + slots[row].outcome.message);
            TheConsole().Row(row, Cell(label, 12) + InstallResultText(slots[row].outcome.result), true);
            continue;
        }
        threads.emplace_back(RunSlot, std::ref(slots[row]), row, std::cref(shared), std::ref(answer), cursor);
    }
    if (!settings.yes && !settings.dryRun) {
        AskOnceForAll(answer, slots);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    TheConsole().EndBoard();

    return Summarize(report, slots, settings.verify);
}

}  // namespace meterload::cli
