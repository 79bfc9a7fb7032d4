#include "update/update_verification.h"

#include "update/package_name.h"
#include "update/split_path.h"
#include "update/update_attempt.h"
#include "update/update_driver.h"
#include "update/update_history.h"

namespace meterload {

Verification VerifyInstalled(const UpdateContext& context, const ImageHeader& header)
{
    UpdateDriver driver(context);
    const UpdateDriver::Identification identified = driver.Identify();
    Verification verification;
    switch (identified.found) {
    case UpdateDriver::Found::Nothing: verification.found = Verification::Found::Nothing; return verification;
    case UpdateDriver::Found::WrongMode:
        verification.found = Verification::Found::WrongMode;
        verification.check = VersionCheck::NotVerified;
        return verification;
    case UpdateDriver::Found::Instrument: break;
    }
    verification.found = Verification::Found::Instrument;
    verification.firmwareVersionField = identified.firmwareVersionField;
    verification.check = CheckInstalledVersion(identified.firmwareVersionField, header);
    verification.expected = ComparedImageVersion(header);
    verification.reported = ComparedInstrumentVersion(identified.firmwareVersionField, header);
    return verification;
}

std::string VerificationText(const Verification& verification, std::uint8_t targetKind)
{
    switch (verification.found) {
    case Verification::Found::Nothing: return "was not found";
    case Verification::Found::WrongMode: return "is in the wrong mode (it answers as in update mode)";
    case Verification::Found::Instrument: break;
    }
    const std::string processor = TargetKindName(targetKind);
    switch (verification.check) {
    case VersionCheck::Verified: return "reports " + processor + " " + verification.reported;
    case VersionCheck::NotChecked: return "was not compared: the image names no processor";
    case VersionCheck::NotVerified: break;
    }
    return "reports " + processor + " " + (verification.reported.empty() ? "nothing" : verification.reported) +
           ", not " + verification.expected;
}

UpdateRecord VerificationRecord(const std::string& serial, const std::string& path, const std::string& result,
                                const std::string& firmwareVersionField, const std::string& reason,
                                std::chrono::milliseconds waited)
{
    UpdateRecord record;
    record.verification = true;
    record.time = UtcNow();
    record.serial = serial;
    record.firmwareVersionField = firmwareVersionField;
    const std::string fileName = SplitPath(path).fileName;
    DescribeFile(record, path, fileName, IsPackageName(fileName));
    record.result = result;
    record.reason = reason;
    record.durationMs = waited.count();
    return record;
}

}  // namespace meterload
