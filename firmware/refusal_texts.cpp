#include "firmware/refusal_texts.h"

namespace meterload {

namespace {

const char* ProcessorName(std::uint8_t targetKind)
{
    switch (targetKind) {
    case 1: return "Panel";
    case 2: return "MSP 430";
    default: return "DSP";
    }
}

}  // namespace

std::vector<std::string> IdentityMismatchLogLines()
{
    return {
        "Firmware update was not successful.  Please be sure you selected the ",
        "correct firmware file in the installation process.",
        "\n",
        "Click \"Exit\" to end this update process and turn ZQ6140 power off then",
        "back on and try the update again.",
    };
}

std::string IdentityMismatchBoxText()
{
    return "Firmware update was not successful.\n"
           "Please be sure you selected the correct firmware file in the installation process.";
}

std::vector<std::string> GateRefusalLogLines(std::uint8_t targetKind)
{
    return {
        std::string("Firmware Update Not Possible (") + ProcessorName(targetKind) +
            "). Binary file version is older than ",
        "instrument version.",
        "Please press the \"Exit\" button to exit and recycle power on instrument.",
    };
}

std::string GateRefusalBoxText(std::uint8_t targetKind)
{
    return std::string("Firmware Update Not Possible (") + ProcessorName(targetKind) +
           ").\nBinary file version is older than instrument version.";
}

}  // namespace meterload
