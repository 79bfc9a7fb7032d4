// Which file the loader took for a library loaded by name.
#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>

namespace meterload {

std::string DynamicLibrary::Path() const
{
    link_map* map = nullptr;
    if (handle_ == nullptr || dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
        return {};
    }
    std::error_code error;
    const auto absolute = std::filesystem::absolute(map->l_name, error);
    return error ? std::string(map->l_name) : absolute.string();
}

}  // namespace meterload
