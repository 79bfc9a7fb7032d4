// The instrument state that survives unloading the library: saved as text to
// the configured state file, or to the process environment when there is none.
#pragma once

#include "sim/instrument_model.h"
#include "sim/sim_config.h"

#include <string>

namespace zqsim {

std::string SerializeState(const SimConfig& config, InstrumentModel& model);

// Takes the state back into `model` when `text` was saved under the same
// configuration and names the same instruments; false (model untouched)
// otherwise.
bool RestoreState(const std::string& text, const SimConfig& config, InstrumentModel& model);

void SaveState(const SimConfig& config, InstrumentModel& model);
bool LoadState(const SimConfig& config, InstrumentModel& model);

}  // namespace zqsim
