/* Loading the manager library on Linux: dlopen, first from the executable's directory, then through
 * the dynamic loader's search path. */
#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <string>
#include <string_view>

#include "apps/snmp_service/service_sdk.h"

namespace service::loader {

const std::string_view k_sdk_file_name = "libvek_nms_sdk.so";

namespace {

constexpr std::string_view k_self_exe = "/proc/self/exe";

/* Directory of the running executable, with its trailing '/', or empty when it cannot be read. */
std::string executable_dir() {
    std::array<char, PATH_MAX> path{};
    const ssize_t len = readlink(k_self_exe.data(), path.data(), path.size() - 1);
    if (len <= 0) {
        return {};
    }
    const std::string_view exe(path.data(), static_cast<size_t>(len));
    const size_t slash = exe.rfind('/');
    return slash == std::string_view::npos ? std::string{} : std::string(exe.substr(0, slash + 1));
}

} // namespace

void *open_sdk(std::string *why) {
    const std::string dir = executable_dir();
    if (!dir.empty()) {
        const std::string beside = dir + std::string(k_sdk_file_name);
        if (void *handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL); handle != nullptr) {
            return handle;
        }
    }
    void *handle = dlopen(std::string(k_sdk_file_name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && why != nullptr) {
        const char *reason = dlerror();
        *why = reason != nullptr ? reason : "";
    }
    return handle;
}

void *find(void *library, const char *name) { return dlsym(library, name); }

} // namespace service::loader
