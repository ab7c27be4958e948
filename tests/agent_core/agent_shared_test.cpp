// Both shared libraries in one process: libvek_agent_sdk_v3_vekcrypto.so answering the manager of
// libvek_nms_sdk.so over 127.0.0.1, for v1, v2c and SNMPv3 with every authentication algorithm
// crossed with every privacy algorithm, and each library keeping its own internals (log settings).
// The agent library exports nothing but its interface.
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/snmpv3_user_mgr.h"
#include "agent/vek_agent_sdk.h"
#include "nms/vek_nms_sdk.h"
#include "tests/agent_units/agent_test_util.h"

namespace {

using agent_test::LogCapture;
using Clock = std::chrono::steady_clock;

constexpr const char *kLibraryPath = VEK_AGENT_SDK_PATH;
constexpr const char *kLoopback = "127.0.0.1";
constexpr const char *kSysDescrOid = "1.3.6.1.2.1.1.1.0";
constexpr const char *kSysDescrText = "Embedded SNMP Agent / Firmware V1.0.0";
constexpr const char *kTempOid = "1.3.6.1.4.1.12345.1.1";
constexpr const char *kLedOid = "1.3.6.1.4.1.12345.1.2";
constexpr uint32_t kRequestTimeoutMs = 3000;
constexpr auto kAnswerWait = std::chrono::seconds(8);
constexpr uint8_t kEngineId[] = {0x80, 0x00, 0x30, 0x39, 0x04, 's', 'h', 'a', 'r', 'e', 'd'};

// NMS privacy numbering (index) to the agent's (codec) numbering.
constexpr uint8_t kAgentPrivOf[] = {AGENT_SNMP_PRIV_NONE, AGENT_SNMP_PRIV_DES,    AGENT_SNMP_PRIV_AES128,
                                    AGENT_SNMP_PRIV_3DES, AGENT_SNMP_PRIV_AES192, AGENT_SNMP_PRIV_AES256};

struct Outcome {
    uint32_t error = 0;
    uint32_t error_status = 0;
    std::vector<api_snmp_varbind> varbinds;
};

// Outcomes of the manager's requests by user_data tag, filled on the manager's threads.
class Collector {
   public:
    static Collector &instance() {
        static Collector collector;
        return collector;
    }
    static void on_response(const char *, uint16_t, const char *, api_snmp_cmd_type,
                            const api_snmp_response *response, void *user_data) {
        Outcome outcome{response->error, response->error_status, {}};
        outcome.varbinds.assign(response->varbinds, response->varbinds + response->var_count);
        Collector &self = instance();
        std::lock_guard<std::mutex> guard(self.lock_);
        self.outcomes_[reinterpret_cast<uintptr_t>(user_data)] = outcome;
    }
    std::optional<Outcome> take(uintptr_t tag) {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = outcomes_.find(tag);
        if (found == outcomes_.end()) {
            return std::nullopt;
        }
        Outcome outcome = found->second;
        outcomes_.erase(found);
        return outcome;
    }

   private:
    std::mutex lock_;
    std::map<uintptr_t, Outcome> outcomes_;
};

uint16_t agent_port = 0;

class BothLibraries : public testing::Test {
   protected:
    void SetUp() override {
        agent_snmp_set_log_level(AGENT_LOG_FATAL);
        api_snmp_init();
        api_snmp_set_log_level(AGENT_LOG_FATAL);
        api_snmp_register_response_callback(Collector::on_response);
        // The agent is initialised once per process; later tests start it again on the same port.
        if (agent_snmp_get_state() == AGENT_SNMP_STATE_UNINIT) {
            agent_snmp_cfg cfg{};
            std::strcpy(cfg.ro_community, "public");
            std::strcpy(cfg.rw_community, "private");
            std::memcpy(cfg.engine_id, kEngineId, sizeof kEngineId);
            cfg.engine_id_len = sizeof kEngineId;
            cfg.poll_period = 1000;
            cfg.log_level = AGENT_LOG_FATAL;
            for (int attempt = 0; attempt < 3 && agent_port == 0; ++attempt) {
                cfg.port = agent_test::free_udp_port();
                if (agent_snmp_init(&cfg) == AGENT_SNMP_OK) {
                    agent_port = cfg.port;
                }
            }
        }
        port_ = agent_port;
        ASSERT_NE(port_, 0);
        ASSERT_EQ(agent_snmp_start(), AGENT_SNMP_OK);
    }
    void TearDown() override {
        api_snmp_destroy();
        agent_snmp_stop();
    }

    void create_manager_agent(api_snmp_version version, const char *community = "public") {
        api_snmp_agent_remove(kLoopback, port_);
        api_snmp_agent_config config{};
        config.version = version;
        std::strcpy(config.community, community);
        ASSERT_EQ(api_snmp_agent_create(kLoopback, port_, &config), API_SNMP_OK);
    }

    // Runs the agent on this thread until the manager's callback has reported the request.
    std::optional<Outcome> await(uintptr_t tag) {
        const auto deadline = Clock::now() + kAnswerWait;
        while (Clock::now() < deadline) {
            agent_snmp_wait(10);
            agent_snmp_loop();
            if (std::optional<Outcome> outcome = Collector::instance().take(tag)) {
                return outcome;
            }
        }
        return std::nullopt;
    }

    std::optional<Outcome> get(const char *oid, const char *user = nullptr) {
        api_snmp_varbind vb{};
        EXPECT_EQ(api_snmp_create_get_varbind(oid, &vb), API_SNMP_OK);
        const uintptr_t tag = ++tag_;
        const api_snmp_err sent =
            api_snmp_get(kLoopback, port_, user, &vb, 1, kRequestTimeoutMs, reinterpret_cast<void *>(tag));
        EXPECT_EQ(sent, API_SNMP_OK);
        return sent == API_SNMP_OK ? await(tag) : std::nullopt;
    }

    uint16_t port_ = 0;
    uintptr_t tag_ = 0;
};

std::string text_value(const api_snmp_varbind &vb) {
    return std::string(reinterpret_cast<const char *>(vb.value.bytes), vb.value_len);
}

TEST_F(BothLibraries, V1AndV2cRequestsOfTheManagerAreAnswered) {
    create_manager_agent(API_SNMP_V1);
    std::optional<Outcome> outcome = get(kSysDescrOid);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->error, API_SNMP_OK);
    ASSERT_EQ(outcome->varbinds.size(), 1u);
    EXPECT_EQ(text_value(outcome->varbinds[0]), kSysDescrText);

    create_manager_agent(API_SNMP_V2C, "private");
    api_snmp_varbind set{};
    ASSERT_EQ(api_snmp_create_set_varbind(kLedOid, "i", "1", &set), API_SNMP_OK);
    ASSERT_EQ(
        api_snmp_set(kLoopback, port_, nullptr, &set, 1, kRequestTimeoutMs, reinterpret_cast<void *>(++tag_)),
        API_SNMP_OK);
    outcome = await(tag_);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->error_status, 0u);
    ASSERT_EQ(api_snmp_create_set_varbind(kLedOid, "i", "0", &set), API_SNMP_OK);
    ASSERT_EQ(
        api_snmp_set(kLoopback, port_, nullptr, &set, 1, kRequestTimeoutMs, reinterpret_cast<void *>(++tag_)),
        API_SNMP_OK);
    ASSERT_TRUE(await(tag_).has_value());

    api_snmp_varbind walk{};
    ASSERT_EQ(api_snmp_create_get_varbind("1.3.6.1.4.1.12345", &walk), API_SNMP_OK);
    ASSERT_EQ(api_snmp_get_bulk(kLoopback, port_, nullptr, 0, 3, &walk, 1, kRequestTimeoutMs,
                                reinterpret_cast<void *>(++tag_)),
              API_SNMP_OK);
    outcome = await(tag_);
    ASSERT_TRUE(outcome.has_value());
    ASSERT_EQ(outcome->varbinds.size(), 3u);
    EXPECT_STREQ(outcome->varbinds[0].oid, kTempOid);
    EXPECT_EQ(outcome->varbinds[0].value.i32, 25);
    EXPECT_STREQ(outcome->varbinds[1].oid, kLedOid);
    EXPECT_EQ(outcome->varbinds[1].value.i32, 0);
}

TEST_F(BothLibraries, V3WithEveryAuthenticationAndPrivacyAlgorithm) {
    struct Combination {
        uint32_t auth;
        uint32_t priv;
    };
    std::vector<Combination> combinations = {{API_SNMP_AUTH_NONE, API_SNMP_PRIV_NONE}};
    for (uint32_t auth = API_SNMP_AUTH_MD5; auth <= API_SNMP_AUTH_SHA256FULL; ++auth) {
        for (uint32_t priv = API_SNMP_PRIV_NONE; priv <= API_SNMP_PRIV_AES256; ++priv) {
            combinations.push_back({auth, priv});
        }
    }
    for (const Combination &c : combinations) {
        const std::string name = std::string("u").append(std::to_string(c.auth)).append("p").append(std::to_string(c.priv));
        SCOPED_TRACE(name);
        agent_snmp_v3_user agent_user{};
        std::strcpy(agent_user.username, name.c_str());
        agent_user.auth_proto = static_cast<uint8_t>(c.auth);
        std::strcpy(agent_user.auth_pass, "auth-secret-1");
        agent_user.priv_proto = kAgentPrivOf[c.priv];
        std::strcpy(agent_user.priv_pass, "priv-secret-2");
        ASSERT_EQ(agent_snmp_v3_user_add(&agent_user), AGENT_SNMP_OK);

        create_manager_agent(API_SNMP_V3);
        api_snmp_v3_user_config manager_user{};
        std::strcpy(manager_user.user_name, name.c_str());
        manager_user.auth_alg = c.auth;
        manager_user.auth_password = "auth-secret-1";
        manager_user.priv_alg = c.priv;
        manager_user.priv_password = "priv-secret-2";
        ASSERT_EQ(api_snmp_user_add(kLoopback, port_, &manager_user), API_SNMP_OK);

        const std::optional<Outcome> outcome = get(kSysDescrOid, name.c_str());
        ASSERT_TRUE(outcome.has_value());
        EXPECT_EQ(outcome->error, API_SNMP_OK);
        ASSERT_EQ(outcome->varbinds.size(), 1u);
        EXPECT_EQ(text_value(outcome->varbinds[0]), kSysDescrText);
        ASSERT_EQ(agent_snmp_v3_user_del(name.c_str()), AGENT_SNMP_OK);
    }
}

TEST_F(BothLibraries, EachLibraryKeepsItsOwnLogSettings) {
    create_manager_agent(API_SNMP_V2C);
    ASSERT_TRUE(get(kTempOid).has_value());  // the manager knows the agent now
    const std::string agent_line = "v1/v2c 匹配只读共同体：***";
    const std::string manager_line = "core_send_raw_packet: 命令发送成功";

    api_snmp_set_log_level(AGENT_LOG_FATAL);
    agent_snmp_set_log_level(AGENT_LOG_DEBUG);
    std::string text;
    {
        LogCapture log;
        ASSERT_TRUE(get(kTempOid).has_value());
        agent_snmp_set_log_level(AGENT_LOG_FATAL);
        text = log.take();
    }
    EXPECT_TRUE(agent_test::contains(text, agent_line));
    EXPECT_FALSE(agent_test::contains(text, manager_line));

    api_snmp_set_log_level(AGENT_LOG_DEBUG);
    {
        LogCapture log;
        ASSERT_TRUE(get(kTempOid).has_value());
        api_snmp_set_log_level(AGENT_LOG_FATAL);
        text = log.take();
    }
    EXPECT_FALSE(agent_test::contains(text, agent_line));
    EXPECT_TRUE(agent_test::contains(text, manager_line));
}

// Every way a secret could be written: hexadecimal in upper and lower case, spaced as the hex dump
// writes it or not.
std::vector<std::string> hex_forms(const uint8_t *bytes, size_t len) {
    std::vector<std::string> forms(4);
    char digits[4];
    for (size_t i = 0; i < len; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        forms[0] += std::string(digits) + " ";
        forms[1] += digits;
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        forms[2] += std::string(digits) + " ";
        forms[3] += digits;
    }
    return forms;
}

TEST_F(BothLibraries, NoSecretReachesTheLogAtDebug) {
    constexpr const char *kAuthPass = "log-Auth-Secret-71";
    constexpr const char *kPrivPass = "log-Priv-Secret-82";
    constexpr const char *kContact = "contact-Secret-93";
    agent_snmp_v3_user agent_user{};
    std::strcpy(agent_user.username, "logger");
    agent_user.auth_proto = AGENT_SNMP_AUTH_SHA256;
    std::strcpy(agent_user.auth_pass, kAuthPass);
    agent_user.priv_proto = AGENT_SNMP_PRIV_AES128;
    std::strcpy(agent_user.priv_pass, kPrivPass);
    ASSERT_EQ(agent_snmp_v3_user_add(&agent_user), AGENT_SNMP_OK);
    create_manager_agent(API_SNMP_V3);
    api_snmp_v3_user_config manager_user{};
    std::strcpy(manager_user.user_name, "logger");
    manager_user.auth_alg = API_SNMP_AUTH_SHA256;
    manager_user.auth_password = kAuthPass;
    manager_user.priv_alg = API_SNMP_PRIV_AES128;
    manager_user.priv_password = kPrivPass;
    ASSERT_EQ(api_snmp_user_add(kLoopback, port_, &manager_user), API_SNMP_OK);

    std::string text;
    {
        agent_snmp_set_log_level(AGENT_LOG_DEBUG);
        api_snmp_set_log_level(AGENT_LOG_DEBUG);
        LogCapture log;
        api_snmp_varbind set{};
        ASSERT_EQ(api_snmp_create_set_varbind("1.3.6.1.2.1.1.4.0", "s", kContact, &set), API_SNMP_OK);
        ASSERT_EQ(api_snmp_set(kLoopback, port_, "logger", &set, 1, kRequestTimeoutMs, reinterpret_cast<void *>(++tag_)),
                  API_SNMP_OK);
        std::optional<Outcome> outcome = await(tag_);
        ASSERT_TRUE(outcome.has_value());
        EXPECT_EQ(outcome->error_status, 0u);
        outcome = get("1.3.6.1.2.1.1.4.0", "logger");
        ASSERT_TRUE(outcome.has_value());
        ASSERT_EQ(outcome->varbinds.size(), 1u);
        EXPECT_EQ(text_value(outcome->varbinds[0]), kContact) << "the value went through, encrypted";
        create_manager_agent(API_SNMP_V2C, "wrong-community");
        outcome = get(kSysDescrOid);
        ASSERT_TRUE(outcome.has_value());
        EXPECT_EQ(outcome->error_status, 2u);  // noSuchName: the community was refused
        agent_snmp_set_log_level(AGENT_LOG_FATAL);
        api_snmp_set_log_level(AGENT_LOG_FATAL);
        text = log.take();
    }
    EXPECT_TRUE(agent_test::contains(text, "v1/v2c 共同体名验证失败：请求='***'，支持ro='***'、rw='***'"));
    EXPECT_TRUE(agent_test::contains(text, "[DEBUG]")) << "both libraries logged at DEBUG";
    std::vector<std::string> secrets = {kAuthPass, kPrivPass, kContact, "public", "private"};
    const snmp_v3_user *keys = nullptr;
    for (const snmp_v3_user &user : g_snmpv3_user_mgr.users) {
        keys = std::string(reinterpret_cast<const char *>(user.username), user.user_len) == "logger" ? &user : keys;
    }
    ASSERT_NE(keys, nullptr);
    ASSERT_GT(keys->auth_key_len, 0);
    ASSERT_GT(keys->priv_key_len, 0);
    for (const uint8_t *key : {keys->auth_key, keys->priv_key}) {
        // The key dumps showed the first bytes of a key: not even 4 of them may appear.
        for (const std::string &form : hex_forms(key, 4)) {
            secrets.push_back(form);
        }
    }
    for (const std::string &secret : secrets) {
        EXPECT_FALSE(agent_test::contains(text, secret)) << secret;
    }
    ASSERT_EQ(agent_snmp_v3_user_del("logger"), AGENT_SNMP_OK);
}

TEST(AgentLibrary, ExportsOnlyItsInterface) {
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(
        popen((std::string("nm -D --defined-only ") + kLibraryPath).c_str(), "r"), pclose);
    ASSERT_TRUE(pipe);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        std::istringstream fields(line);
        std::string address;
        std::string type;
        std::string name;
        if (fields >> address >> type >> name) {
            names.insert(name);
        }
    }
    size_t functions = 0;
    for (const std::string &name : names) {
        if (name.rfind("agent_snmp_", 0) == 0) {
            ++functions;
            continue;
        }
        EXPECT_TRUE(name == "agent_cfg" || name == "eth_trans_ctx" || name == "es_trans_ctx" ||
                    name == "g_snmpv3_user_mgr")
            << name;
    }
    // The 26 of the interface, agent_snmp_wait, the engine boots pair, the subtree, table and
    // system-group calls, and the SNMPv3 notification user.
    EXPECT_EQ(functions, 38u);
    for (const char *added : {"agent_snmp_subtree_register", "agent_snmp_subtree_unregister",
                              "agent_snmp_subtree_get_count", "agent_snmp_table_register",
                              "agent_snmp_set_sys_object_id", "agent_snmp_set_sys_name",
                              "agent_snmp_set_sys_location", "agent_snmp_set_sys_services",
                              "agent_snmp_set_notify_user"}) {
        EXPECT_EQ(names.count(added), 1u) << added;
    }
    EXPECT_EQ(names.count("agent_cfg"), 1u);
    EXPECT_EQ(names.count("g_snmpv3_user_mgr"), 1u);
}

}  // namespace
