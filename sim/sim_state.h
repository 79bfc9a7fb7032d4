// The instrument state that survives unloading the library: saved as text to
// the configured state file, or to the process environment when there is none.
#pragma once

#include "sim/instrument_model.h"
#include "sim/sim_config.h"

#include <string>

namespace zqsim {

std::string SerializeState(const SimConfig& config, InstrumentModel& model);

// Takes back the state of each instrument that was saved under the same
// serial and configuration; the others keep their power-on state and mark
// the model dirty. False (model untouched) when `text` is damaged in any way.
bool RestoreState(const std::string& text, const SimConfig& config, InstrumentModel& model);

// To the state file when there is one. Without, only when the library
// unloads: the process's environment keeps the state for the next load only,
// and changing the environment while the client's other threads may read it
// is not safe.
void SaveState(const SimConfig& config, InstrumentModel& model, bool unloading);
// False when there is no sound saved state; the model keeps its power-on
// state then.
bool LoadState(const SimConfig& config, InstrumentModel& model);

}  // namespace zqsim
