// The answer to "*idn?\n", read and taken apart the same way wherever an
// update asks for it.
#pragma once

#include "link/instrument_connection.h"

#include <optional>
#include <string>
#include <string_view>

namespace meterload {

// Reads one identification reply (at most 63 bytes kept). A reply that filled
// the buffer and did not end with its line feed goes on: its rest is read and
// dropped, so that it cannot pass for the answer to the next exchange.
std::string ReadIdentificationReply(InstrumentConnection& connection);

// The versions field: from after the reply's last comma to its end, or to a
// zero byte in it; not trimmed, the line end included. Nothing when the reply
// has no comma, which is no usable answer.
std::optional<std::string> VersionsField(std::string_view reply);

// "WDL" instead of versions: the instrument is still in its update mode.
bool AnswersInUpdateMode(std::string_view versionsField);

}  // namespace meterload
