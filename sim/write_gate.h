// A write gate holds an instrument's image data writes until a test lets them
// through, so that a test can stop a program at a known point of its transfer
// (another process included) and act while it waits there. The gate is the
// file named by the instrument's serial in the configured folder:
// - no file: every write goes through;
// - a number N as its first word: the writes that keep the image data since
//   update mode began within N bytes go through, and the first that would
//   carry byte N+1 waits until the number is larger or the file is gone;
// - anything else (empty, being written): every image data write waits.
#pragma once

#include <cstdint>
#include <string>

namespace zqsim {

// Whether the gate of `serial` in `folder` holds a data write after which the
// instrument would hold `endBytes` image bytes since update mode began.
bool WriteGateHolds(const std::string& folder, const std::string& serial, std::uint64_t endBytes);

}  // namespace zqsim
