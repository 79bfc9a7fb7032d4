// Where the VISA implementations for Linux put their library: the vendors'
// packages for Debian/Ubuntu and for RPM distributions, the VXIplug&play
// framework folders of older installers, and vendor folders under /opt; and
// our own USB transport beside the program.
#include "cli/visa_library.h"

#include <filesystem>

namespace meterload::cli {

std::vector<std::string> KnownVisaLibraryNames()
{
    return {"libvisa.so.0", "libiovisa.so", "librsvisa.so"};
}

std::vector<std::string> KnownVisaLibraryFiles()
{
    return {
        "/usr/lib/x86_64-linux-gnu/libvisa.so",
        "/usr/lib/x86_64-linux-gnu/libvisa.so.0",
        "/usr/lib64/libvisa.so",
        "/usr/lib64/libvisa.so.0",
        "/usr/lib/libvisa.so",
        "/usr/local/lib/libvisa.so",
        "/usr/local/lib64/libvisa.so",
        "/usr/local/vxipnp/linux/lib64/libvisa.so",
        "/usr/local/vxipnp/linux/lib/libvisa.so",
        "/opt/keysight/iolibs/libiovisa.so",
        "/usr/lib/x86_64-linux-gnu/libiovisa.so",
        "/usr/lib/librsvisa.so",
        "/usr/lib64/librsvisa.so",
    };
}

std::vector<std::string> BuiltInTransportFiles()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    const std::filesystem::path folder = program.parent_path();
    return {
        (folder / "../lib/meterload/libmeterload-usbtmc.so").lexically_normal().string(),  // installed
        (folder / "../usb/libmeterload-usbtmc.so").lexically_normal().string(),            // build tree
    };
}

}  // namespace meterload::cli
