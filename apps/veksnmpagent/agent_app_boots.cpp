/* The engine boots state file of veksnmpagent. */
#include "apps/veksnmpagent/agent_app_boots.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

#include "apps/app_os/app_os.h"

namespace {

constexpr const char *k_state_dir = "veksnmpagent";
constexpr const char *k_state_file = "engine_boots";
constexpr const char *k_fallback_file = "veksnmpagent.engine_boots";

} // namespace

std::string agent_app_default_boots_file() {
    namespace fs = std::filesystem;
    const std::string base = app_os::user_state_dir();
    if (base.empty()) {
        return k_fallback_file;
    }
    return (fs::path(base) / k_state_dir / k_state_file).string();
}

bool agent_app_read_boots(const std::string &path, uint32_t &boots, std::string &why) {
    boots = 0;
    std::ifstream in(path);
    if (!in) {
        if (errno == ENOENT) {
            return true;  // the first run
        }
        why = std::strerror(errno);
        return false;
    }
    std::string text;
    std::getline(in, text);
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data() || value > std::numeric_limits<uint32_t>::max()) {
        why = "it holds no engine boots number";
        return false;
    }
    boots = static_cast<uint32_t>(value);
    return true;
}

bool agent_app_write_boots(const std::string &path, uint32_t boots, std::string &why) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target(path);
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) {
            why = ec.message();
            return false;
        }
    }
    const std::string temporary = path + "." + std::to_string(app_os::process_id()) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << boots << '\n';
        out.flush();
        if (!out) {
            why = std::strerror(errno);
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        why = ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}
