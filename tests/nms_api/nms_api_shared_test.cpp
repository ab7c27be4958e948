// The shared library as applications see it: the 26 API functions exported under their plain names
// (checked in the dynamic symbol table and resolved at run time, as the HTTP service does), and the
// library bound to its own definitions (-Bsymbolic).
#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "nms/vek_nms_sdk.h"

namespace {

constexpr const char *kLibraryPath = VEK_NMS_SDK_PATH;

constexpr std::array<const char *, 26> kApiFunctions = {
    "api_snmp_init",
    "api_snmp_destroy",
    "api_snmp_agent_create",
    "api_snmp_agent_remove",
    "api_snmp_agent_exist",
    "api_snmp_user_add",
    "api_snmp_user_remove",
    "api_snmp_start_trap_listener",
    "api_snmp_stop_trap_listener",
    "api_snmp_register_response_callback",
    "api_snmp_register_trap_callback",
    "api_snmp_set_log_level",
    "api_snmp_mib_load",
    "api_snmp_get",
    "api_snmp_get_next",
    "api_snmp_set",
    "api_snmp_get_bulk",
    "api_snmp_oid_validate",
    "api_snmp_create_get_varbind",
    "api_snmp_create_set_varbind",
    "api_snmp_error_to_str",
    "api_snmp_error_status_to_str",
    "api_snmp_get_agent_count",
    "api_snmp_get_agent_list",
    "api_snmp_get_user_count",
    "api_snmp_get_user_list",
};

// Output of a command, or nothing when it could not be run.
std::string command_output(const std::string &command) {
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return {};
    }
    std::string output;
    std::array<char, 4096> chunk{};
    size_t read = 0;
    while ((read = fread(chunk.data(), 1, chunk.size(), pipe.get())) > 0) {
        output.append(chunk.data(), read);
    }
    return output;
}

// Names of the functions (type T) defined in the library's dynamic symbol table.
std::set<std::string> exported_functions() {
    const std::string listing = command_output(std::string("nm -D --defined-only ") + kLibraryPath);
    std::set<std::string> names;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address;
        std::string type;
        std::string name;
        if (fields >> address >> type >> name && type == "T") {
            names.insert(name);
        }
    }
    return names;
}

TEST(SharedLibrary, ExportsTheTwentySixFunctionsUndecorated) {
    const std::set<std::string> names = exported_functions();
    ASSERT_FALSE(names.empty()) << "nm printed no symbols for " << kLibraryPath;
    for (const char *function : kApiFunctions) {
        EXPECT_EQ(names.count(function), 1u) << function;
    }
    // No C++-mangled twin (a mangled name spells each identifier as <length><identifier>).
    for (const char *function : kApiFunctions) {
        const std::string mangled_piece = std::to_string(std::strlen(function)) + function;
        for (const std::string &name : names) {
            EXPECT_EQ(name.find(mangled_piece), std::string::npos) << "decorated API symbol: " << name;
        }
    }
}

TEST(SharedLibrary, ResolvesEveryFunctionByNameAtRunTime) {
    void *library = dlopen(kLibraryPath, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char *function : kApiFunctions) {
        EXPECT_NE(dlsym(library, function), nullptr) << function;
    }
    using ErrorText = const char *(*)(uint32_t);
    const auto error_to_str = reinterpret_cast<ErrorText>(dlsym(library, "api_snmp_error_to_str"));
    ASSERT_NE(error_to_str, nullptr);
    EXPECT_STREQ(error_to_str(API_SNMP_ERR_TIMEOUT), "响应超时（设备未在规定时间内回复）");
    using OidCheck = bool (*)(const char *);
    const auto oid_validate = reinterpret_cast<OidCheck>(dlsym(library, "api_snmp_oid_validate"));
    ASSERT_NE(oid_validate, nullptr);
    EXPECT_TRUE(oid_validate("1.3.6.1"));
    dlclose(library);
}

// Looks for DF_SYMBOLIC (or the older DT_SYMBOLIC entry) in the loaded library's dynamic section.
int find_symbolic(dl_phdr_info *info, size_t /*size*/, void *found) {
    if (std::strstr(info->dlpi_name, "libvek_nms_sdk.so") == nullptr) {
        return 0;
    }
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type != PT_DYNAMIC) {
            continue;
        }
        const auto *entry = reinterpret_cast<const ElfW(Dyn) *>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
        for (; entry->d_tag != DT_NULL; ++entry) {
            if (entry->d_tag == DT_SYMBOLIC || (entry->d_tag == DT_FLAGS && (entry->d_un.d_val & DF_SYMBOLIC) != 0)) {
                *static_cast<bool *>(found) = true;
            }
        }
    }
    return 1;
}

TEST(SharedLibrary, BindsItsOwnDefinitions) {
    // Linked against the library, so it is loaded: read its dynamic section.
    EXPECT_NE(api_snmp_error_to_str(0), nullptr);
    bool symbolic = false;
    dl_iterate_phdr(find_symbolic, &symbolic);
    EXPECT_TRUE(symbolic);
}

TEST(SharedLibrary, RunsThroughTheLibrary) {
    api_snmp_init();
    const api_snmp_agent_config config{API_SNMP_V2C, "public"};
    EXPECT_EQ(api_snmp_agent_create("127.0.0.1", 16161, &config), API_SNMP_OK);
    EXPECT_TRUE(api_snmp_agent_exist("127.0.0.1", 16161));
    EXPECT_EQ(api_snmp_agent_create("127.0.0.1", 16161, &config), API_SNMP_ERR_AGENT_EXISTS);
    EXPECT_EQ(api_snmp_get_agent_count(), 1u);
    api_snmp_destroy();
}

}  // namespace
