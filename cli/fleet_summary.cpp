#include "cli/fleet_summary.h"

#include "cli/console.h"
#include "cli/install_verification.h"
#include "cli/table_text.h"
#include "update/exit_codes.h"

#include <algorithm>

namespace meterload::cli {
namespace {

std::string Before(const InstallOutcome& outcome)
{
    if (!outcome.firmwareVersionField) {
        return "-";
    }
    return VersionFieldText(*outcome.firmwareVersionField);
}

nlohmann::json SlotJson(const FleetSlot& slot)
{
    const InstallOutcome& outcome = slot.outcome;
    nlohmann::json object = {{"serial", slot.instrument.serial},
                             {"result", InstallResultText(outcome.result)},
                             {"exit_code", outcome.code},
                             {"update_mode_entered", outcome.updateModeEntered},
                             {"elapsed_ms", outcome.elapsed.count()},
                             {"log", outcome.log},
                             {"boxes", outcome.boxes}};
    if (!outcome.reasonKey.empty()) {
        object["reason"] = outcome.reasonKey;
    }
    if (slot.attached) {
        object["resource"] = slot.instrument.resource;
    }
    if (outcome.firmwareVersionField) {
        object["firmware_version_field"] = *outcome.firmwareVersionField;
    }
    if (outcome.code != kDone) {
        object["error"] = outcome.message;
    }
    if (outcome.verification) {
        object["verification"] = VerificationJson(*outcome.verification);
    }
    return object;
}

std::string Verified(const InstallOutcome& outcome)
{
    return outcome.verification ? VerificationCell(*outcome.verification) : "-";
}

}  // namespace

int Summarize(Report& report, const std::vector<FleetSlot>& slots, bool verify)
{
    const FleetSlot* first = nullptr;
    std::size_t done = 0;
    std::size_t verified = 0;
    // The verdict's column is as wide as its longest cell.
    std::size_t verifiedWidth = 10;
    for (const FleetSlot& slot : slots) {
        verifiedWidth = std::max(verifiedWidth, Verified(slot.outcome).size() + 2);
    }
    report.Out(Cell("SERIAL", 12) + Cell("BEFORE", 14) + Cell("RESULT", 22) +
               (verify ? Cell("VERIFIED", verifiedWidth) : std::string()) + "TIME");
    for (const FleetSlot& slot : slots) {
        const InstallOutcome& outcome = slot.outcome;
        std::string result = InstallResultText(outcome.result);
        if (outcome.code != kDone) {
            result += " (exit " + std::to_string(outcome.code) + ")";
            if (first == nullptr) {
                first = &slot;
            }
        } else {
            ++done;
        }
        if (outcome.verification && outcome.verification->result == VerifyResult::Verified) {
            ++verified;
        }
        report.Out(Cell(Printable(slot.instrument.serial), 12) + Cell(Before(outcome), 14) + Cell(result, 22) +
                   (verify ? Cell(Verified(outcome), verifiedWidth) : std::string()) +
                   Seconds(outcome.elapsed.count()));
        report.Data()["instruments"].push_back(SlotJson(slot));
    }
    const std::string counted = std::to_string(done) + " of " + std::to_string(slots.size());
    if (first == nullptr) {
        const bool allVerified = verify && verified == slots.size();
        report.Out(counted + " instruments " +
                   (slots.front().outcome.result == InstallResult::Checked ? "checked."
                    : allVerified                                          ? "updated and verified."
                                                                           : "updated."));
        return report.Finish(kDone);
    }
    const std::string serial = Printable(first->instrument.serial);
    report.Out(counted + " done. First failure: " + serial + ", " + InstallResultText(first->outcome.result) +
               " (exit " + std::to_string(first->outcome.code) + ").");
    report.Data()["first_failure"] = first->instrument.serial;
    return report.Fail(first->outcome.code, "First failure: " + serial + ": " + first->outcome.message,
                       first->outcome.next);
}

}  // namespace meterload::cli
