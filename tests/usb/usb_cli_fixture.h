// meterload-cli run as a user runs it on a PC with emulated ZQ6140s on USB:
// umockdev's preload stands in for the kernel, and no VISA library is named,
// so that the program falls back to its own USB transport.
#pragma once

#include "tests/cli/cli_fixture.h"
#include "tests/usb/emulated_bus.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace meterload::testing {

class UsbCliFixture : public CliTest {
protected:
    bool Start(const std::string& instruments, const std::map<std::string, UsbFaults>& faults = {})
    {
        bus_ = std::make_unique<EmulatedBus>(instruments, faults);
        return bus_->Started();
    }

    Environment UsbEnv() const
    {
        return {{"LD_PRELOAD", UMOCKDEV_PRELOAD_PATH},
                {"UMOCKDEV_DIR", bus_->RootDirectory()},
                {"ASAN_OPTIONS", "verify_asan_link_order=0"},
                {"METERLOAD_HISTORY", PathOf("history.jsonl")}};
    }

    CliRun RunUsb(const std::vector<std::string>& args) const { return RunCli(Command(args), UsbEnv()); }

    std::unique_ptr<EmulatedBus> bus_;
};

#define START_OR_SKIP(...)                                                       \
    if (!Start(__VA_ARGS__)) {                                                   \
        GTEST_SKIP() << "umockdev cannot start here: " << bus_->WhyNotStarted(); \
    }

}  // namespace meterload::testing
