#include "update/update_outcome.h"

#include "update/stop_reasons.h"

#include <ostream>

namespace meterload {

std::ostream& operator<<(std::ostream& out, StopReason reason)
{
    return out << FactsOf(reason).name;
}

std::ostream& operator<<(std::ostream& out, const ProcedureResult& result)
{
    return out << "{" << result.stage << ", " << (result.updateModeEntered ? "in update mode" : "normal mode") << ", "
               << result.reason << "}";
}

std::ostream& operator<<(std::ostream& out, UpdateStage stage)
{
    switch (stage) {
    case UpdateStage::Identification: return out << "Identification";
    case UpdateStage::FileChoice: return out << "FileChoice";
    case UpdateStage::Checks: return out << "Checks";
    case UpdateStage::Transfer: return out << "Transfer";
    case UpdateStage::Finished: return out << "Finished";
    }
    return out << "UpdateStage(" << static_cast<int>(stage) << ")";
}

}  // namespace meterload
