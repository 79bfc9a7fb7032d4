#include "tests/cli/cli_fixture.h"

#include "tests/support/sim_instrument.h"

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

namespace meterload::testing {

CliTest::CliTest()
{
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() /
           ("meterload-cli-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
            std::to_string(random()));
    std::filesystem::create_directories(dir_);
}

CliTest::~CliTest()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

Environment CliTest::Env(const std::string& config) const
{
    std::ofstream(PathOf("sim.conf")) << config;
    return {{"METERLOAD_VISA_LIBRARY", SimLibraryPath()},
            {"ZQSIM_CONFIG", PathOf("sim.conf")},
            {"ZQSIM_STATE", PathOf("sim.state")},
            {"ZQSIM_TRANSCRIPT", PathOf("transcript.txt")},
            {"METERLOAD_HISTORY", PathOf("history.jsonl")}};
}

std::vector<std::string> CliTest::Command(const std::vector<std::string>& args) const
{
    std::vector<std::string> command{METERLOAD_CLI_PATH};
    for (const std::string& arg : args) {
        if (arg.size() > 2 && arg.front() == '{' && arg.back() == '}') {
            command.push_back(PathOf(arg.substr(1, arg.size() - 2)));
        } else {
            command.push_back(arg);
        }
    }
    return command;
}

CliRun CliTest::Run(const std::vector<std::string>& args, const std::string& config, const std::string& input) const
{
    return RunCli(Command(args), Env(config), input);
}

std::string CliTest::Write(const std::string& name, const Bytes& bytes) const
{
    WriteFileBytes(PathOf(name), bytes);
    return PathOf(name);
}

std::vector<WireEvent> CliTest::Transcript() const
{
    std::ifstream in(PathOf("transcript.txt"));
    std::stringstream text;
    text << in.rdbuf();
    return ParseTranscript(text.str());
}

std::vector<Bytes> CliTest::Writes() const
{
    std::vector<Bytes> writes;
    for (const WireEvent& event : Transcript()) {
        if (event.name == "viWrite") {
            writes.push_back(event.bytes);
        }
    }
    return writes;
}

std::size_t CliTest::DataWrites() const
{
    std::size_t count = 0;
    for (const WireEvent& event : Transcript()) {
        count += event.name == "viWrite" && event.Field("kind") == "data" ? 1u : 0u;
    }
    return count;
}

bool CliTest::EnteredUpdateMode() const
{
    for (const WireEvent& event : Transcript()) {
        if (event.name == "mode" && event.Field("mode") == "update") {
            return true;
        }
    }
    return false;
}

bool CliTest::AwaitHeld(const std::string& serial, std::size_t count) const
{
    const auto enough = [&](const std::vector<WireEvent>& events) {
        return HeldWrites(events, serial).size() >= count;
    };
    return enough(AwaitTranscript(PathOf("transcript.txt"), enough));
}

void CliTest::WriteFirmwareFiles() const
{
    ImageSpec main;
    main.bodySize = 1000;
    Write("main.bin", ImageBytes(main));
    ImageSpec old = main;
    old.version = "02.05";
    old.bodySize = 300;
    Write("old.bin", ImageBytes(old));
    ImageSpec foreign = main;
    foreign.identity = "OTHER ZQ6140";
    Write("foreign.bin", ImageBytes(foreign));
    Write("panel.bin", ImageBody(481, 7));

    PackageBuilder package;
    package.Image(ImageBytes(main), "main.bin").Image(ImageBody(481, 7), "panel.bin");
    Write("fw.pak", package.Build());
    PackageBuilder oldPackage;
    oldPackage.Image(ImageBytes(old), "old.bin");
    Write("old.pak", oldPackage.Build());
    PackageBuilder cut = package;
    cut.TruncateTo(1500);
    Write("cut.pak", cut.Build());
}

}  // namespace meterload::testing
