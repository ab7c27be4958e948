/* The bridge's page in a real browser: starts the bridge on a high port, behind HTTP Basic
 * authentication, in front of a fake HTTP service that keeps agents, users and notifications, then
 * runs tests/browser/bridge_page_test.js (playwright-core driving Debian's chromium): the page works
 * with the credentials, is refused without them, and a page of another site cannot use the
 * browser's credentials to set an object. Skipped when node, chromium or the npm package are
 * missing (scripts/install_browser_deps.sh installs them). */
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "apps/snmp_web_bridge/bridge_http.h"
#include "apps/snmp_web_bridge/bridge_json.h"
#include "tests/bridge/bridge_test_support.h"

#ifndef VEK_BROWSER_TEST_DIR
#error "VEK_BROWSER_TEST_DIR must name tests/browser"
#endif

namespace {

using namespace std::chrono_literals;
using namespace bridge_test;

constexpr auto kScriptLimit = 120s;
constexpr const char *kUser = "operator";
constexpr const char *kPassword = "pass word:1";
constexpr auto kSlowGet = 500ms; /* long enough for the page's progress text to be seen */
constexpr std::string_view kLedOid = "1.3.6.1.4.1.12345.1.2";
constexpr std::string_view kMarkupValue = "Test agent <img src=x onerror=window.__xss=1><b>bold</b>";

std::optional<std::string> find_on_path(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::filesystem::path candidate = std::filesystem::path(dirs.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::vector<std::string> split_list(const std::string &text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        if (end > start) {
            items.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return items;
}

std::string item(std::string_view oid, std::string_view value, int type) {
    return "{\"oid\":" + bridge::json_string(oid) + ",\"value\":" + bridge::json_string(value) +
           ",\"type\":" + std::to_string(type) + "}";
}

constexpr int kTypeInteger = 2;
constexpr int kTypeOctets = 4;
constexpr int kTypeOid = 6;

/* A small stand-in for snmp_service that remembers what the page did. */
class fake_nms {
public:
    std::optional<std::string> answer(const std::string &path, const std::string &query) {
        const auto p = [&](const char *name) { return bridge::query_param(query, name); };
        const std::lock_guard lock(mutex_);
        if (path == "/api_snmp_agent_create") {
            agents_[p("ip") + ":" + p("port")] = p("version") == "0" ? 0 : p("version") == "3" ? 3 : 1;
            return ok();
        }
        if (path == "/api_snmp_agent_remove") {
            agents_.erase(p("ip") + ":" + p("port"));
            return ok();
        }
        if (path == "/api_snmp_agent_exist") {
            return std::string(R"({"ret":0,"msg":"success","exist":)") +
                   (agents_.contains(p("ip") + ":" + p("port")) ? "1}" : "0}");
        }
        if (path == "/api_snmp_get_agent_list") {
            return agent_list();
        }
        if (path == "/api_snmp_user_add") {
            users_[p("ip") + ":" + p("port")].push_back({p("username"), p("auth_alg"), p("priv_alg")});
            return ok();
        }
        if (path == "/api_snmp_get_user_list") {
            return user_list(p("ip") + ":" + p("port"));
        }
        if (path == "/api_snmp_get") {
            std::this_thread::sleep_for(kSlowGet);
            return data(split_list(p("oid")), [](const std::string &oid) {
                return oid == "1.3.6.1.2.1.1.1.0" ? std::string(kMarkupValue) : "value of " + oid;
            });
        }
        if (path == "/api_snmp_getnext") {
            return data(split_list(p("oid")), [](const std::string &) { return std::string(kMarkupValue); },
                        ".1.0");
        }
        if (path == "/api_snmp_get_bulk") {
            std::vector<std::string> oids;
            for (int i = 1; i <= std::atoi(p("max_repeat").c_str()); ++i) {
                oids.push_back(p("oid") + "." + std::to_string(i) + ".0");
            }
            return data(oids, [](const std::string &oid) { return "bulk " + oid; });
        }
        if (path == "/api_snmp_set") {
            sets_.push_back(query);
            if (p("oid") == kLedOid) {
                /* The service's notification record. */
                traps_.push_back("{\"seq\":" + std::to_string(traps_.size() + 1) +
                                 ",\"time\":1767225600,\"ip\":\"127.0.0.1\",\"port\":161,\"version\":1,"
                                 "\"community\":\"public\",\"error\":0,\"var_count\":3,\"varbinds\":[" +
                                 item("1.3.6.1.6.3.1.1.4.1.0", "1.3.6.1.4.1.12345.0.1", kTypeOid) + "," +
                                 item(kLedOid, p("value"), kTypeInteger) + "," +
                                 item("1.3.6.1.2.1.1.1.0", "<img src=x onerror=window.__xss=5>", kTypeOctets) +
                                 "]}");
            }
            return std::string(R"({"ret":0,"msg":"noError"})");
        }
        if (path == "/api_snmp_trap_list") {
            std::string body = R"({"ret":0,"msg":"success","total":)" + std::to_string(traps_.size()) + ",\"list\":[";
            for (size_t i = 0; i < traps_.size(); ++i) {
                body += i == 0 ? "" : ",";
                body += traps_[i];
            }
            return body + "]}";
        }
        return R"({"ret":-404,"msg":"unknown api","path":)" + bridge::json_string(path) + "}";
    }

    std::vector<std::string> sets() {
        const std::lock_guard lock(mutex_);
        return sets_;
    }

private:
    struct user {
        std::string name, auth, priv;
    };
    static std::string ok() { return R"({"ret":0,"msg":"success"})"; }

    std::string agent_list() const {
        std::string body = R"({"ret":0,"msg":"success","total":)" + std::to_string(agents_.size()) + ",\"list\":[";
        bool first = true;
        for (const auto &[key, version] : agents_) {
            const size_t colon = key.find(':');
            body += first ? "" : ",";
            body += std::string("{\"ip\":") + bridge::json_string(key.substr(0, colon)) +
                    ",\"port\":" + key.substr(colon + 1) + ",\"version\":" + std::to_string(version) +
                    ",\"timeout\":3000,\"max_retry\":3}";
            first = false;
        }
        return body + "]}";
    }

    std::string user_list(const std::string &key) {
        const auto &list = users_[key];
        std::string body = R"({"ret":0,"msg":"success","total":)" + std::to_string(list.size()) + ",\"list\":[";
        for (size_t i = 0; i < list.size(); ++i) {
            body += i == 0 ? "" : ",";
            body += std::string("{\"username\":") + bridge::json_string(list[i].name) +
                    ",\"auth_alg\":" + list[i].auth + ",\"priv_alg\":" + list[i].priv + "}";
        }
        return body + "]}";
    }

    template <typename F>
    static std::string data(const std::vector<std::string> &oids, F value_of, std::string_view suffix = "") {
        if (oids.empty()) {
            return R"({"ret":1,"msg":"no oid"})";
        }
        std::string body = R"({"ret":0,"msg":"success","data":[)";
        for (size_t i = 0; i < oids.size(); ++i) {
            const std::string oid = oids[i] + std::string(suffix);
            body += i == 0 ? "" : ",";
            body += item(oid, value_of(oid), kTypeOctets);
        }
        return body + "]}";
    }

    std::mutex mutex_;
    std::map<std::string, int> agents_;
    std::map<std::string, std::vector<user>> users_;
    std::vector<std::string> sets_;
    std::vector<std::string> traps_;
};

TEST(BridgeBrowser, PageWorksInChromium) {
    const std::filesystem::path dir = VEK_BROWSER_TEST_DIR;
    const auto node = find_on_path("node");
    const char *chromium_env = std::getenv("CHROMIUM_PATH");
    const std::string chromium = chromium_env != nullptr ? chromium_env : "/usr/bin/chromium";
    if (!node) {
        GTEST_SKIP() << "node is not installed (scripts/install_browser_deps.sh installs it)";
    }
    if (::access(chromium.c_str(), X_OK) != 0) {
        GTEST_SKIP() << chromium << " is missing (scripts/install_browser_deps.sh installs it)";
    }
    if (!std::filesystem::exists(dir / "node_modules" / "playwright-core")) {
        GTEST_SKIP() << "playwright-core is not installed in " << dir << " (run scripts/install_browser_deps.sh)";
    }

    fake_nms nms;
    fake_service service([&](const std::string &path, const std::string &query) { return nms.answer(path, query); });
    ASSERT_TRUE(service.ok());
    const uint16_t port = free_tcp_port();
    bridge_process bridge(port, {"--port", std::to_string(port), "--service-port", std::to_string(service.port())},
                          {std::string("VEK_BRIDGE_AUTH=") + kUser + ":" + kPassword});
    ASSERT_TRUE(bridge.ready()) << bridge.stderr_text();

    std::vector<std::string> env{"CHROMIUM_PATH=" + chromium, std::string("BRIDGE_USER=") + kUser,
                                 std::string("BRIDGE_PASSWORD=") + kPassword,
                                 "BRIDGE_OTHER_SITE=http://127.0.0.2:" + std::to_string(port) + "/"};
    if (const char *shot = std::getenv("BRIDGE_SCREENSHOT")) {
        env.push_back(std::string("BRIDGE_SCREENSHOT=") + shot);
    }
    const auto run = run_program(*node, {(dir / "bridge_page_test.js").string(), bridge.url()}, env, kScriptLimit);
    std::cout << run.out;
    ASSERT_TRUE(run.exit_code.has_value()) << "the browser test did not finish\n" << run.err;
    EXPECT_EQ(*run.exit_code, 0) << run.err;

    /* What the page sent arrived as the service expects it. */
    const auto sets = nms.sets();
    ASSERT_GE(sets.size(), 2u);
    EXPECT_EQ(sets[0], "ip=127.0.0.1&port=16161&username=&oid=1.3.6.1.4.1.12345.1.2&type=integer&value=1");
    EXPECT_EQ(bridge::query_param(sets[1], "value"), "<img src=x onerror=window.__xss=3> & <b>bold</b>");
    for (const std::string &set : sets) {
        EXPECT_EQ(set.find("set-by-another-site"), std::string::npos) << "another site's page set an object";
    }
    EXPECT_NE(bridge.stdout_text().find("已拒绝其他网站页面发来的请求 | 客户端 127.0.0.1"), std::string::npos)
        << "the bridge saw and refused it";
}

} // namespace
