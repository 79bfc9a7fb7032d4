#include "update/stop_reasons.h"

namespace meterload {
namespace {

using R = InstallResult;
using H = HistoryResult;

// A reason that can only come in update mode still has a row for before it,
// and the other way round: what the table says then is what a front end
// would have said without it.
constexpr Verdict kInstalled{R::Installed, kDone, H::Done};
constexpr Verdict kRefused{R::Refused, kFileRefused, H::Refused};
constexpr Verdict kFailed{R::Failed, kUpdateFailed, H::Failed};
// Refusing the file itself after update mode: the instrument must be power
// cycled, yet nothing of the file reached it.
constexpr Verdict kFailedRefusingFile{R::Failed, kUpdateFailed, H::Refused};
constexpr Verdict kInterruptedInUpdateMode{R::Interrupted, kInterrupted, H::Failed};

// clang-format off
constexpr StopReasonFacts kNone{"None", "installed", kInstalled, kInstalled};
constexpr StopReasonFacts kNotFound{"NotFound", "not_found",
    {R::NotFound, kNoInstrument, H::Refused}, kFailed};
constexpr StopReasonFacts kWrongMode{"WrongMode", "wrong_mode",
    {R::WrongMode, kInstrumentFault, H::Refused}, kFailed};
constexpr StopReasonFacts kSerialMissing{"SerialMissing", "serial_missing",
    {R::AnotherInstrument, kInstrumentFault, H::Refused}, kFailed};
constexpr StopReasonFacts kAnotherInstrument{"AnotherInstrument", "another_instrument",
    {R::AnotherInstrument, kInstrumentFault, H::Refused}, kFailed};
constexpr StopReasonFacts kUserAbort{"UserAbort", "no_file_chosen",
    {R::Interrupted, kInterrupted, H::Refused}, kFailed};
constexpr StopReasonFacts kFileUnreadable{"FileUnreadable", "file_unreadable", kRefused, kFailed};
constexpr StopReasonFacts kPackageDamaged{"PackageDamaged", "package_damaged", kRefused, kFailedRefusingFile};
constexpr StopReasonFacts kNotZq6140Image{"NotZq6140Image", "not_zq6140_image", kRefused, kFailedRefusingFile};
constexpr StopReasonFacts kVersionGate{"VersionGate", "version_gate", kRefused, kFailedRefusingFile};
constexpr StopReasonFacts kDeclined{"Declined", "declined",
    {R::Declined, kInterrupted, H::Refused}, kFailed};
constexpr StopReasonFacts kStopped{"Stopped", "stopped",
    {R::Interrupted, kInterrupted, H::Refused}, kInterruptedInUpdateMode};
constexpr StopReasonFacts kWriteFailed{"WriteFailed", "write_failed", kRefused, kFailed};
constexpr StopReasonFacts kShortWrite{"ShortWrite", "short_write", kRefused, kFailed};
constexpr StopReasonFacts kConnectionLost{"ConnectionLost", "connection_lost", kRefused, kFailed};
constexpr StopReasonFacts kEndFrameFailed{"EndFrameFailed", "end_frame_failed", kRefused, kFailed};
constexpr StopReasonFacts kReplyRefused{"ReplyRefused", "reply_refused", kRefused, kFailed};
constexpr StopReasonFacts kReplyMissing{"ReplyMissing", "reply_missing", kRefused, kFailed};
// A value outside the enumeration, which only a fault can make.
constexpr StopReasonFacts kUnknown{"StopReason(?)", "unknown", kFailed, kFailed};
// clang-format on

}  // namespace

const StopReasonFacts& FactsOf(StopReason reason)
{
    // No default: a reason without a row is a build error.
    switch (reason) {
    case StopReason::None: return kNone;
    case StopReason::NotFound: return kNotFound;
    case StopReason::WrongMode: return kWrongMode;
    case StopReason::SerialMissing: return kSerialMissing;
    case StopReason::AnotherInstrument: return kAnotherInstrument;
    case StopReason::UserAbort: return kUserAbort;
    case StopReason::FileUnreadable: return kFileUnreadable;
    case StopReason::PackageDamaged: return kPackageDamaged;
    case StopReason::NotZq6140Image: return kNotZq6140Image;
    case StopReason::VersionGate: return kVersionGate;
    case StopReason::Declined: return kDeclined;
    case StopReason::Stopped: return kStopped;
    case StopReason::WriteFailed: return kWriteFailed;
    case StopReason::ShortWrite: return kShortWrite;
    case StopReason::ConnectionLost: return kConnectionLost;
    case StopReason::EndFrameFailed: return kEndFrameFailed;
    case StopReason::ReplyRefused: return kReplyRefused;
    case StopReason::ReplyMissing: return kReplyMissing;
    }
    return kUnknown;
}

const char* InstallResultText(InstallResult result)
{
    switch (result) {
    case InstallResult::Installed: return "installed";
    case InstallResult::Checked: return "checked";
    case InstallResult::Declined: return "declined";
    case InstallResult::Interrupted: return "interrupted";
    case InstallResult::Refused: return "refused";
    case InstallResult::Failed: return "failed";
    case InstallResult::NotFound: return "not found";
    case InstallResult::WrongMode: return "wrong mode";
    case InstallResult::AnotherInstrument: return "another instrument";
    }
    return "failed";
}

const char* HistoryResultText(HistoryResult result)
{
    switch (result) {
    case HistoryResult::Done: return "done";
    case HistoryResult::Refused: return "refused";
    case HistoryResult::Failed: return "failed";
    }
    return "failed";
}

}  // namespace meterload
