// The dialog's update procedures driven end to end: a recording dialog, a
// virtual clock, image files in a private directory and the simulated ZQ6140
// behind the real VISA binding.
#pragma once

#include "tests/support/package_builder.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/sim_instrument.h"
#include "tests/support/virtual_clock.h"
#include "update/update_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace meterload::testing {

// "4C 30 0A" for failure messages.
std::string Hex(const Bytes& bytes);
std::string HexList(const std::vector<Bytes>& writes);

inline const Bytes kLocal = BytesOf("L0\n");
inline const Bytes kIdentify = BytesOf("*idn?\n");
inline const Bytes kSystemUpdate = BytesOf("system:update\n");
inline const Bytes kPad = BytesOf("@?\n");
inline const Bytes kFrame = {0xAB, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF};

// The writes that carry `body`: 240-byte pieces, the last one 1 to 240 bytes.
std::vector<Bytes> Chunks(const Bytes& body);

// The success and failure endings of the log for `fileName`.
std::vector<std::string> SuccessLines(const std::string& fileName);
std::vector<std::string> FailureLines(const std::string& fileName);
std::vector<std::string> HintLines();
// The log lines of an image refused by its identity, and by the version gate
// for `processor` ("DSP", "Panel", "MSP 430").
std::vector<std::string> IdentityRefusalLines();
std::vector<std::string> GateRefusalLines(const std::string& processor);

class UpdateFlowTest : public ::testing::Test {
protected:
    UpdateFlowTest();
    ~UpdateFlowTest() override;
    void TearDown() override;

    // Configures the sim with one instrument, ABC123, plus `extra` lines.
    void Configure(const std::string& extra = "");

    // Writes an image file into the private directory; returns its path.
    std::string WriteImage(const std::string& name, const ImageSpec& spec);
    std::string WriteFile(const std::string& name, const Bytes& bytes);
    // new.bin (700 bytes of body, takes), foreign.bin (another identity),
    // old.bin (older than the instrument), fw.pak (new.bin and one more
    // entry), old.pak (old.bin alone).
    void WriteSampleFiles();
    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

    // CheckInstrument as the dialog runs it at start; asserts it found one.
    void StartReady();
    // One press of control 1 with the file dialog answering `choice`.
    void Press(std::optional<std::string> choice);

    // The bytes of every viWrite since the last Configure.
    std::vector<Bytes> Writes();
    // The timestamps (on the virtual clock) of each viWrite and viRead.
    std::vector<std::chrono::microseconds> WriteTimes();
    std::vector<std::chrono::microseconds> ReadTimes();
    // The `image` events: sizes and CRCs of each image the instrument closed.
    std::vector<std::string> ImageEvents();
    // The log as it stood just before the ending cleared it.
    std::vector<std::string> LogLinesBeforeEnding() const;

    RecordingDialog dialog;
    VirtualClock clock;
    SimInstrument sim;
    UpdateDriver driver;

private:
    std::filesystem::path dir_;
};

}  // namespace meterload::testing
