// meterload-cli run as a user runs it, against the simulated instruments:
// a private folder with the simulator's configuration, state and transcript,
// and the firmware files the cases use.
#pragma once

#include "tests/cli/cli_process.h"
#include "tests/support/package_builder.h"
#include "tests/support/transcript.h"
#include "tests/support/write_gates.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace meterload::testing {

inline const Bytes kSystemUpdateBytes = BytesOf("system:update\n");

class CliTest : public ::testing::Test {
protected:
    CliTest();
    ~CliTest() override;

    // The environment of a run: the simulator as the VISA library, configured with `config`.
    Environment Env(const std::string& config = "serials=ABC123\n") const;
    // `args` after the program's name; "{name}" stands for the path of a file in the folder.
    std::vector<std::string> Command(const std::vector<std::string>& args) const;
    CliRun Run(const std::vector<std::string>& args, const std::string& config = "serials=ABC123\n",
               const std::string& input = std::string()) const;

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }
    std::string Write(const std::string& name, const Bytes& bytes) const;

    // The simulator's transcript of the runs so far, and what it shows.
    std::vector<WireEvent> Transcript() const;
    std::vector<Bytes> Writes() const;
    std::size_t DataWrites() const;
    bool EnteredUpdateMode() const;
    // Waits until the transcript shows `count` writes of `serial` held at
    // its write gate; false when it does not within a minute.
    bool AwaitHeld(const std::string& serial, std::size_t count) const;

    // Firmware files: main.bin (DSP 02.06, 1000 bytes of body), old.bin
    // (02.05), foreign.bin (another maker's), panel.bin (481 plain bytes),
    // fw.pak (main.bin, panel.bin), old.pak (old.bin), cut.pak (fw.pak cut
    // inside its table).
    void WriteFirmwareFiles() const;

    std::filesystem::path dir_;
};

}  // namespace meterload::testing
