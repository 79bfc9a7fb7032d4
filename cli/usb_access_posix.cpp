// The meters in sysfs, each checked against its device node's permissions.
#include "cli/usb_access.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace meterload::cli {
namespace {

std::string Attribute(const std::filesystem::path& device, const char* name)
{
    std::ifstream in(device / name);
    std::string value;
    std::getline(in, value);
    return value;
}

}  // namespace

std::vector<std::string> UnreachableMeterNodes()
{
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/usb/devices", error)) {
        const std::filesystem::path device = entry.path();
        if (Attribute(device, "idVendor") != "1d47" || Attribute(device, "idProduct") != "0b62") {
            continue;
        }
        const unsigned long bus = std::strtoul(Attribute(device, "busnum").c_str(), nullptr, 10);
        const unsigned long address = std::strtoul(Attribute(device, "devnum").c_str(), nullptr, 10);
        char node[48];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03lu/%03lu", bus, address);
        if (::access(node, R_OK | W_OK) != 0 && errno == EACCES) {
            nodes.push_back(node);
        }
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

}  // namespace meterload::cli
