#include "cli/visa_library.h"

#include "platform/dynamic_library.h"
#include "platform/environment.h"

#include <cstdlib>
#include <filesystem>

namespace meterload::cli {
namespace {

bool Loads(const std::string& name)
{
    DynamicLibrary library;
    return library.Load(name);
}

}  // namespace

VisaLibraryChoice ChooseVisaLibrary(const std::string& option)
{
    if (!option.empty()) {
        return {option, "--visa-library", {option}};
    }
    if (std::optional<std::string> variable = NonEmptyEnvironmentText("METERLOAD_VISA_LIBRARY")) {
        return {*variable, "METERLOAD_VISA_LIBRARY", {*variable}};
    }

    VisaLibraryChoice choice{kVisaLibraryName, "the system's library search", {}};
    std::vector<std::string> names{kVisaLibraryName};
    if (kVisaLibraryFallbackName != nullptr) {
        names.push_back(kVisaLibraryFallbackName);
    }
    for (const std::string& name : KnownVisaLibraryNames()) {
        names.push_back(name);
    }
    for (const std::string& name : names) {
        choice.tried.push_back(name + " (the system's library search)");
        if (Loads(name)) {
            choice.library = name;
            return choice;
        }
    }
    for (const std::string& file : KnownVisaLibraryFiles()) {
        choice.tried.push_back(file);
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::u8path(file), error) && Loads(file)) {
            choice.library = file;
            choice.source = "a known install location";
            return choice;
        }
    }
    // Chosen even when it does not load (libusb missing): the connection
    // then says why, as for any library that cannot be loaded.
    for (const std::string& file : BuiltInTransportFiles()) {
        choice.tried.push_back(file);
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::u8path(file), error)) {
            choice.library = file;
            choice.source = kBuiltInTransportSource;
            choice.builtInTransport = true;
            return choice;
        }
    }
    // Nothing loads: the connection reports it, naming the platform's default.
    return choice;
}

}  // namespace meterload::cli
