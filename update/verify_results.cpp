#include "update/verify_results.h"

namespace meterload {
namespace {

constexpr VerifyResultFacts kVerifiedFacts{"verified", kDone};
constexpr VerifyResultFacts kNotVerifiedFacts{"not verified", kNotVerified};
constexpr VerifyResultFacts kNotCheckedFacts{"not checked", kDone};
constexpr VerifyResultFacts kNotFoundFacts{"not found", kNoInstrument};
constexpr VerifyResultFacts kStoppedFacts{"stopped", kInterrupted};

}  // namespace

const VerifyResultFacts& FactsOf(VerifyResult result)
{
    switch (result) {
    case VerifyResult::Verified: return kVerifiedFacts;
    case VerifyResult::NotVerified: return kNotVerifiedFacts;
    case VerifyResult::NotChecked: return kNotCheckedFacts;
    case VerifyResult::NotFound: return kNotFoundFacts;
    case VerifyResult::Stopped: return kStoppedFacts;
    }
    return kNotVerifiedFacts;
}

VerifyResult VerifyResultOf(VersionCheck check)
{
    switch (check) {
    case VersionCheck::Verified: return VerifyResult::Verified;
    case VersionCheck::NotChecked: return VerifyResult::NotChecked;
    case VersionCheck::NotVerified: return VerifyResult::NotVerified;
    }
    return VerifyResult::NotVerified;
}

}  // namespace meterload
