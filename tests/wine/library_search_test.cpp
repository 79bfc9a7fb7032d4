// The VISA library is never taken from the current directory: the folder the
// program was started from and the firmware folder that the open-file dialog
// moves into may hold a visa32.dll or visa64.dll of anyone's. The library is
// still found beside the program.
#include "tests/wine/app_fixture.h"

namespace meterload::wine {
namespace {

constexpr const char* kVisaNames[] = {"visa32.dll", "visa64.dll"};

class LibrarySearch : public MeterLoadApp {
protected:
    // A folder of the run holding the library that must never load, under
    // both VISA names.
    std::string FolderWithForeignLibraries(const std::string& name) {
        const std::string folder = MakeFolder(name);
        const std::wstring fake = Wide(WindowsPath(METERLOAD_WINE_FAKE_VISA));
        for (const char* visa : kVisaNames) {
            DeleteFileW(Wide(folder + "\\" + visa + ".loaded").c_str());
            EXPECT_TRUE(CopyFileW(fake.c_str(), Wide(folder + "\\" + visa).c_str(), FALSE))
                << folder;
        }
        return folder;
    }

    // meterload.exe in a folder of its own; with `instrument`, the simulated
    // VISA library beside it under the name every build looks for last.
    std::string ProgramFolder(bool instrument) {
        const std::string folder = MakeFolder("program");
        const std::string stage = WindowsPath(METERLOAD_WINE_STAGE);
        EXPECT_TRUE(CopyFileW(Wide(stage + "\\meterload.exe").c_str(),
                              Wide(folder + "\\meterload.exe").c_str(), FALSE));
        DeleteFileW(Wide(folder + "\\visa32.dll").c_str());
        if (instrument) {
            EXPECT_TRUE(CopyFileW(Wide(stage + "\\" + kSimulatedLibrary).c_str(),
                                  Wide(folder + "\\visa32.dll").c_str(), FALSE));
        }
        return folder;
    }

    static void ExpectNeverLoaded(const std::string& folder) {
        for (const char* visa : kVisaNames) {
            const std::string mark = folder + "\\" + visa + ".loaded";
            EXPECT_EQ(GetFileAttributesW(Wide(mark).c_str()), INVALID_FILE_ATTRIBUTES)
                << visa << " in the current directory was loaded";
        }
    }

private:
    static constexpr const char* kSimulatedLibrary = METERLOAD_WINE_SIM_NAME;

    std::string MakeFolder(const std::string& name) {
        const std::string folder = app_.RunFolder() + "\\" + name;
        CreateDirectoryW(Wide(folder).c_str(), nullptr);
        return folder;
    }
};

TEST_F(LibrarySearch, StartedFromAFolderWithAVisaLibraryFindsNoInstrument) {
    const std::string program = ProgramFolder(false);
    const std::string here = FolderWithForeignLibraries("started_here");
    app_.StartIn(program, here, "serials=ABC123");
    const HWND box = app_.WaitForDialog("MeterLoad firmware", kStartTimeout);
    ASSERT_NE(box, nullptr) << "no \"not found\" box";
    EXPECT_EQ(app_.BoxText(box), "ZQ6140 USBTMC device not found.");
    app_.Press(box, IDOK);
    ASSERT_NE(app_.WaitForDialog(kMainCaption), nullptr);
    EXPECT_FALSE(IsWindowEnabled(app_.Control(kSelect)));
    ExpectNeverLoaded(here);
}

TEST_F(LibrarySearch, FirmwareFolderWithAVisaLibraryIsNotSearchedAfterTheFileDialog) {
    const std::string program = ProgramFolder(true);
    const std::string downloads = FolderWithForeignLibraries("downloads");
    app_.StartIn(program, program, "serials=ABC123");
    ASSERT_NE(app_.WaitForDialog(kMainCaption, kStartTimeout), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return app_.LogLines() == kStartHints; }, kWindowTimeout))
        << "log: " << app_.LogText();

    // Choosing the file moves the current directory into its folder.
    WriteFile(downloads + "\\main.bin", SingleImage("02.06", 0, ImageBody(400, 8)));
    SelectFile(downloads + "\\main.bin");
    WaitForContinue();
    EXPECT_EQ(app_.LogLines(), SuccessLog("main.bin"));

    // Continue loads the library anew, by name.
    app_.Click(kSelect);
    EXPECT_TRUE(WaitUntil([&] { return app_.LogLines() == kStartHints; }, kWindowTimeout))
        << "log: " << app_.LogText();
    EXPECT_EQ(app_.FindDialog("MeterLoad firmware"), nullptr) << "a \"not found\" box is showing";
    ExpectNeverLoaded(downloads);
}

}  // namespace
}  // namespace meterload::wine
