/* Loading the manager library on Windows: LoadLibraryA of vek_nms_sdk.dll from the directory of the
 * service's own executable. Only that directory is used: a library of the same name in the working
 * directory or on the search path is never picked up instead. */
#include <windows.h>

#include <array>
#include <string>
#include <string_view>

#include "apps/snmp_service/service_sdk.h"

namespace service::loader {

const std::string_view k_sdk_file_name = "vek_nms_sdk.dll";

namespace {

constexpr DWORD k_path_size = 32768; /* the longest path Windows knows */
constexpr DWORD k_error_text_size = 512;

/* Directory of the running executable, with its trailing '\\', or empty when it cannot be read. */
std::string executable_dir() {
    std::string path(k_path_size, '\0');
    const DWORD len = GetModuleFileNameA(nullptr, path.data(), k_path_size);
    if (len == 0 || len >= k_path_size) {
        return {};
    }
    path.resize(len);
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string{} : path.substr(0, separator + 1);
}

std::string error_text(DWORD error) {
    std::array<char, k_error_text_size> text{};
    const DWORD len = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                     text.data(), static_cast<DWORD>(text.size()), nullptr);
    std::string message(text.data(), len);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    return message + " (" + std::to_string(error) + ")";
}

} // namespace

void *open_sdk(std::string *why) {
    const std::string dir = executable_dir();
    if (dir.empty()) {
        if (why != nullptr) {
            *why = "the directory of the executable cannot be read: " + error_text(GetLastError());
        }
        return nullptr;
    }
    const std::string beside = dir + std::string(k_sdk_file_name);
    HMODULE handle = LoadLibraryA(beside.c_str());
    if (handle == nullptr && why != nullptr) {
        *why = beside + ": " + error_text(GetLastError());
    }
    return reinterpret_cast<void *>(handle);
}

void *find(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

} // namespace service::loader
