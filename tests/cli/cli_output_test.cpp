// What meterload-cli prints: its text and JSON documents, the packages it
// writes, its help, and where it looks for the VISA library.
#include "tests/cli/cli_fixture.h"

#include "tests/support/sim_instrument.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace meterload::testing {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;

json Document(const CliRun& run)
{
    return json::parse(run.out);
}

TEST_F(CliTest, ListShowsEachInstrumentOnceWithItsVersions)
{
    const std::string two = "serials=ABC123,DEF456\nenumerate=both\nversions=02.10-05-12\n";
    const CliRun text = Run({"list"}, two);
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_EQ(text.out, "ABC123  USB0::0x1D47::0x0B62::ABC123::INSTR\n"
                        "DEF456  USB0::0x1D47::0x0B62::DEF456::INSTR\n");

    const CliRun run = Run({"list", "--identify", "--json"}, two);
    ASSERT_EQ(run.code, 0) << run.err;
    const json doc = Document(run);
    EXPECT_EQ(doc["command"], "list");
    EXPECT_EQ(doc["exit_code"], 0);
    ASSERT_EQ(doc["instruments"].size(), 2u);
    EXPECT_EQ(doc["instruments"][1]["serial"], "DEF456");
    const json& identification = doc["instruments"][1]["identification"];
    EXPECT_EQ(identification["mode"], "normal");
    EXPECT_EQ(identification["firmware_version_field"], "02.10-05-12\n");
    EXPECT_EQ(identification["dsp"], "02.10");
    EXPECT_EQ(identification["panel"], "05");
    EXPECT_EQ(identification["msp430"], "12");
}

TEST_F(CliTest, AFailureIsStillOneJsonDocument)
{
    const CliRun run = Run({"identify", "--json"}, "serials=ABC123\nmode=update\n");
    EXPECT_EQ(run.code, 5);
    const json doc = Document(run);
    EXPECT_EQ(doc["exit_code"], 5);
    EXPECT_EQ(doc["identification"]["mode"], "wrong mode");
    EXPECT_THAT(doc["error"].get<std::string>(), HasSubstr("Incorrect mode."));
}

TEST_F(CliTest, InspectExplainsAPackage)
{
    WriteFirmwareFiles();
    const CliRun run = Run({"inspect", "{fw.pak}", "--firmware-version", "02.05-11-07", "--json"});
    ASSERT_EQ(run.code, 0) << run.err;
    const json doc = Document(run);
    const json& file = doc["file"];
    EXPECT_EQ(file["kind"], "package");
    EXPECT_EQ(file["valid"], true);
    EXPECT_EQ(file["entries"][0]["name"], "main.bin");
    EXPECT_EQ(file["entries"][1]["size"], 481);
    EXPECT_EQ(file["entry1_header"]["zq6140"], true);
    EXPECT_EQ(file["entry1_header"]["version"], "02.06");
    EXPECT_EQ(file["send_order"], json::array({2, 1}));
    EXPECT_EQ(file["bytes_to_send"], 1481);
    EXPECT_EQ(doc["gate"]["accepted"], true);
    // No instrument was asked.
    EXPECT_TRUE(Transcript().empty());
}

TEST_F(CliTest, PackWritesWhatThePackageUpdateReads)
{
    WriteFirmwareFiles();
    const CliRun run = Run({"pack", "{new.pak}", "{main.bin}", "{panel.bin}"});
    ASSERT_EQ(run.code, 0) << run.err;
    std::ifstream in(PathOf("new.pak"), std::ios::binary);
    const Bytes written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ifstream expected(PathOf("fw.pak"), std::ios::binary);
    const Bytes built((std::istreambuf_iterator<char>(expected)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, built);

    // Replacing it takes --force.
    EXPECT_EQ(Run({"pack", "{new.pak}", "{main.bin}"}).code, 4);
    EXPECT_EQ(Run({"pack", "{new.pak}", "{main.bin}", "--force"}).code, 0);
}

TEST_F(CliTest, InfoTellsWhatABugReportNeeds)
{
    const CliRun run = Run({"info", "--json"}, "serials=ABC123,DEF456\n");
    ASSERT_EQ(run.code, 0) << run.err;
    const json doc = Document(run);
    EXPECT_EQ(doc["visa_library"]["chosen_by"], "METERLOAD_VISA_LIBRARY");
    EXPECT_EQ(std::filesystem::path(doc["visa_library"]["path"].get<std::string>()),
              std::filesystem::absolute(SimLibraryPath()));
    EXPECT_THAT(doc["visa_library"]["implementation"].get<std::string>(), HasSubstr("implementation version"));
    EXPECT_EQ(doc["resource_manager_opened"], true);
    EXPECT_EQ(doc["instruments"].size(), 2u);
}

TEST_F(CliTest, WithoutANameTheLibraryIsLookedForAndEveryPlaceNamed)
{
    Environment env = Env();
    env.erase("METERLOAD_VISA_LIBRARY");
    env["LD_LIBRARY_PATH"] = std::filesystem::path(SimLibraryPath()).parent_path().string();
    const CliRun found = RunCli(Command({"list"}), env);
    EXPECT_EQ(found.code, 0) << found.err;
    EXPECT_THAT(found.out, HasSubstr("ABC123"));

    for (const char* known : {"/usr/lib/x86_64-linux-gnu/libvisa.so", "/usr/lib64/libvisa.so",
                              "/usr/local/vxipnp/linux/lib64/libvisa.so"}) {
        if (std::filesystem::exists(known)) {
            GTEST_SKIP() << "a VISA library is installed here: " << known;
        }
    }
    // A copy of the program with no USB transport beside it, where the
    // build tree's would otherwise stand in for the missing library.
    env["LD_LIBRARY_PATH"] = dir_.string();
    const std::filesystem::path alone = dir_ / "bin" / "meterload-cli";
    std::filesystem::create_directories(alone.parent_path());
    std::filesystem::copy_file(METERLOAD_CLI_PATH, alone);
    const CliRun missing = RunCli({alone.string(), "list"}, env);
    EXPECT_EQ(missing.code, 6);
    EXPECT_THAT(missing.err, HasSubstr("libvisa.so (the system's library search)"));
    EXPECT_THAT(missing.err, HasSubstr("/usr/local/vxipnp/linux/lib64/libvisa.so"));
    EXPECT_THAT(missing.err, HasSubstr((dir_ / "lib/meterload/libmeterload-usbtmc.so").string()));
    EXPECT_THAT(missing.err, HasSubstr("--visa-library"));
}

TEST_F(CliTest, EveryCommandHasHelpWithExamplesAndExitCodes)
{
    for (const char* command : {"list", "identify", "inspect", "install", "verify", "pack", "history", "info"}) {
        const CliRun run = Run({command, "--help"});
        EXPECT_EQ(run.code, 0) << command;
        EXPECT_THAT(run.out, HasSubstr("Examples:")) << command;
        EXPECT_THAT(run.out, HasSubstr("7    installed, but not verified")) << command;
        EXPECT_THAT(run.out, HasSubstr("130  interrupted")) << command;
        EXPECT_THAT(run.out, HasSubstr("--json")) << command;
    }
    const CliRun version = Run({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_THAT(version.out, HasSubstr("meterload-cli "));
}

}  // namespace
}  // namespace meterload::testing
