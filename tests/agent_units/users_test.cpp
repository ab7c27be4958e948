// The agent configuration record and the SNMPv3 user table: capacity, duplicates, lookups by exact
// name, removal order, key regeneration for the local engine and installation of the configured user.
#include <array>
#include <cstddef>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "agent/agent_config.h"
#include "agent/agent_engine.h"
#include "agent/snmpv3_user_mgr.h"
#include "agent/trans.h"
#include "agent_header_probe.h"
#include "agent_test_util.h"
#include "codec/snmpv3_crypto.h"

namespace {

using agent_test::contains;
using agent_test::LogCapture;

constexpr std::array<uint8_t, 12> kEngineId{0x80, 0x00, 0x1F, 0x88, 0x04, 'v', 'e', 'k', 'a', 'g', 'n', 't'};
constexpr uint32_t kBoots = 3;
constexpr uint8_t kSha1KeyLen = 20;

const uint8_t *bytes(const std::string &text) { return reinterpret_cast<const uint8_t *>(text.data()); }

snmp_v3_user make_user(const std::string &name, uint8_t auth_proto = SNMP_V3_AUTH_NONE,
                       const std::string &auth_pass = "") {
    snmp_v3_user user{};
    user.enabled = 1;
    user.user_len = static_cast<uint8_t>(name.size());
    std::memcpy(user.username, name.data(), name.size());
    user.auth_proto = auth_proto;
    user.auth_pass_len = static_cast<uint16_t>(auth_pass.size());
    std::memcpy(user.auth_pass, auth_pass.data(), auth_pass.size());
    return user;
}

snmp_v3_user *find(const std::string &name) {
    return snmp_v3_user_find(bytes(name), static_cast<uint8_t>(name.size()));
}

bool regenerate(const std::string &name) {
    return snmp_v3_regenerate_auth_key(bytes(name), static_cast<uint8_t>(name.size()));
}

// The key a manager derives for the local engine with this password: localised to the engine ID and
// boots, with engine time 0 whatever the clock shows.
std::array<uint8_t, SNMP_KEY_SIZE> expected_key(uint8_t auth_proto, const std::string &pass) {
    snmp_v3_usm usm{};
    std::memcpy(usm.engine_id, kEngineId.data(), kEngineId.size());
    usm.engine_id_len = kEngineId.size();
    usm.engine_boots = kBoots;
    usm.auth_proto = auth_proto;
    std::array<uint8_t, SNMP_KEY_SIZE> key{};
    EXPECT_EQ(snmp_v3_generate_auth_key(&usm, bytes(pass), static_cast<uint8_t>(pass.size()), key.data(),
                                        snmpv3_get_key_length(auth_proto, 1)),
              1);
    return key;
}

void set_text(uint8_t *field, uint8_t &len, const std::string &text) {
    std::memcpy(field, text.data(), text.size());
    len = static_cast<uint8_t>(text.size());
}

class UsersTest : public ::testing::Test {
protected:
    void SetUp() override {
        agent_config_reset();
        std::memcpy(agent_cfg.engine_id, kEngineId.data(), kEngineId.size());
        agent_cfg.engine_id_len = kEngineId.size();
        agent_engine_set_last_boots(kBoots);
        snmp_v3_user_mgr_init();
    }
    void TearDown() override { agent_config_reset(); }
};

TEST(AgentConfig, ResetRecordMeansNotInitialisedAndCSeesTheSameLayout) {
    agent_cfg.engine_id_len = 4;
    agent_cfg.trusted_nms_count = 2;
    agent_cfg.eth_port = AGENT_DEFAULT_ETH_PORT;
    agent_config_reset();
    const std::array<uint8_t, sizeof(agent_config)> zero{};
    EXPECT_EQ(std::memcmp(&agent_cfg, zero.data(), sizeof agent_cfg), 0);
    EXPECT_EQ(agent_cfg.engine_id_len, 0);
    EXPECT_EQ(agent_cfg.trusted_nms_count, 0);

    agent_header_layout c_layout{};
    agent_header_probe_layout(&c_layout);
    EXPECT_EQ(c_layout.config_size, sizeof(agent_config));
    EXPECT_EQ(c_layout.config_engine_id, offsetof(agent_config, engine_id));
    EXPECT_EQ(c_layout.config_trusted_nms, offsetof(agent_config, trusted_nms));
    EXPECT_EQ(c_layout.config_trusted_nms_count, offsetof(agent_config, trusted_nms_count));
    EXPECT_EQ(c_layout.trans_ctx_size, sizeof(trans_ctx));
    EXPECT_EQ(c_layout.trans_ctx_whitelist_count, offsetof(trans_ctx, whitelist_count));
    EXPECT_EQ(c_layout.user_mgr_size, sizeof(snmp_v3_user_mgr));
    EXPECT_LT(offsetof(agent_config, reserved), offsetof(agent_config, trusted_nms));
    EXPECT_LT(offsetof(agent_config, poll_period), offsetof(agent_config, reserved));
}

TEST_F(UsersTest, TableHoldsFiveUsersWithDistinctNames) {
    const snmp_v3_user admin = make_user("admin");
    const snmp_v3_user admin2 = make_user("admin2");
    LogCapture log;
    EXPECT_TRUE(snmp_v3_user_add(&admin));
    EXPECT_TRUE(snmp_v3_user_add(&admin2));
    snmp_v3_user disabled = make_user("sleeper");
    disabled.enabled = 0;
    EXPECT_TRUE(snmp_v3_user_add(&disabled));
    const snmp_v3_user again = make_user("admin");
    EXPECT_FALSE(snmp_v3_user_add(&again));
    EXPECT_FALSE(snmp_v3_user_add(&disabled));  // disabled entries still own their name
    const snmp_v3_user nameless{};
    EXPECT_FALSE(snmp_v3_user_add(&nameless));
    EXPECT_FALSE(snmp_v3_user_add(nullptr));
    const snmp_v3_user fourth = make_user("u4");
    const snmp_v3_user fifth = make_user("u5");
    const snmp_v3_user sixth = make_user("u6");
    EXPECT_TRUE(snmp_v3_user_add(&fourth));
    EXPECT_TRUE(snmp_v3_user_add(&fifth));
    EXPECT_FALSE(snmp_v3_user_add(&sixth));
    const std::string out = log.take();
    EXPECT_EQ(g_snmpv3_user_mgr.user_count, MAX_V3_USERS);
    EXPECT_TRUE(contains(out, "snmp_v3_user_add：用户名重复（admin）"));
    EXPECT_TRUE(contains(out, "snmp_v3_user_add：用户名重复（sleeper）"));
    EXPECT_TRUE(contains(out, "snmp_v3_user_add：无效用户参数"));
    EXPECT_TRUE(contains(out, "snmp_v3_user_add：用户数已达上限（5）"));

    // Lookups compare exact length and bytes and skip disabled entries.
    ASSERT_NE(find("admin2"), nullptr);
    EXPECT_EQ(find("admin2")->user_len, 6);
    EXPECT_EQ(find("admin"), &g_snmpv3_user_mgr.users[0]);
    LogCapture missing;
    EXPECT_EQ(find("adm"), nullptr);
    EXPECT_EQ(find("sleeper"), nullptr);
    EXPECT_EQ(snmp_v3_user_find(nullptr, 3), nullptr);
    EXPECT_TRUE(contains(missing.take(), "snmp_v3_user_find：用户未找到或未启用（adm）"));
}

TEST_F(UsersTest, RemovingTheFirstKeepsTheOthersInOrder) {
    for (const char *name : {"alpha", "beta", "gamma"}) {
        const snmp_v3_user user = make_user(name);
        ASSERT_TRUE(snmp_v3_user_add(&user));
    }
    LogCapture log;
    EXPECT_TRUE(snmp_v3_user_remove("alpha"));
    EXPECT_FALSE(snmp_v3_user_remove("alpha"));
    EXPECT_FALSE(snmp_v3_user_remove(""));
    EXPECT_FALSE(snmp_v3_user_remove(nullptr));
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "snmp_v3_user_remove: delete user [alpha] success, remain count=2"));
    EXPECT_TRUE(contains(out, "snmp_v3_user_remove: user [alpha] not found"));
    EXPECT_TRUE(contains(out, "snmp_v3_user_remove: username empty"));
    ASSERT_EQ(g_snmpv3_user_mgr.user_count, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(g_snmpv3_user_mgr.users[0].username), 4), "beta");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(g_snmpv3_user_mgr.users[1].username), 5), "gamma");
    const std::array<uint8_t, sizeof(snmp_v3_user)> zero{};
    EXPECT_EQ(std::memcmp(&g_snmpv3_user_mgr.users[2], zero.data(), sizeof(snmp_v3_user)), 0);
    // The freed place takes a new user.
    const snmp_v3_user delta = make_user("delta");
    EXPECT_TRUE(snmp_v3_user_add(&delta));
    EXPECT_EQ(find("delta"), &g_snmpv3_user_mgr.users[2]);
}

TEST_F(UsersTest, RegenerationDerivesTheKeyForTheLocalEngine) {
    const snmp_v3_user own = make_user("own", SNMP_V3_AUTH_SHA1, "ownpassword");
    const snmp_v3_user fallback = make_user("fallback", SNMP_V3_AUTH_SHA1);
    ASSERT_TRUE(snmp_v3_user_add(&own));
    ASSERT_TRUE(snmp_v3_user_add(&fallback));
    set_text(agent_cfg.v3_auth_pass, agent_cfg.v3_auth_pass_len, "configpassword");

    ASSERT_TRUE(regenerate("own"));
    const snmp_v3_user *user = find("own");
    EXPECT_EQ(user->keys_valid, 1);
    EXPECT_EQ(user->auth_key_len, kSha1KeyLen);
    EXPECT_EQ(user->key_engine_boots, kBoots);
    EXPECT_EQ(user->key_engine_time, SNMP_V3_KEY_ENGINE_TIME);
    EXPECT_EQ(std::memcmp(user->auth_key, expected_key(SNMP_V3_AUTH_SHA1, "ownpassword").data(), kSha1KeyLen), 0);

    ASSERT_TRUE(regenerate("fallback"));
    EXPECT_EQ(std::memcmp(find("fallback")->auth_key, expected_key(SNMP_V3_AUTH_SHA1, "configpassword").data(),
                          kSha1KeyLen),
              0);
}

TEST_F(UsersTest, RegenerationRefusalsLeaveTheRecordUnchanged) {
    const snmp_v3_user plain = make_user("plain");
    const snmp_v3_user nopass = make_user("nopass", SNMP_V3_AUTH_MD5);
    ASSERT_TRUE(snmp_v3_user_add(&plain));
    ASSERT_TRUE(snmp_v3_user_add(&nopass));

    LogCapture log;
    EXPECT_TRUE(regenerate("plain"));  // nothing to make: its (empty) keys count as made
    EXPECT_EQ(find("plain")->keys_valid, 1);
    const snmp_v3_user_mgr before = g_snmpv3_user_mgr;
    EXPECT_FALSE(regenerate("nopass"));
    EXPECT_FALSE(regenerate("nobody"));
    EXPECT_FALSE(snmp_v3_regenerate_auth_key(nullptr, 0));
    set_text(agent_cfg.v3_auth_pass, agent_cfg.v3_auth_pass_len, "configpassword");
    agent_cfg.engine_id_len = 0;
    EXPECT_FALSE(regenerate("nopass"));
    const std::string out = log.take();
    EXPECT_EQ(std::memcmp(&before, &g_snmpv3_user_mgr, sizeof before), 0);
    EXPECT_TRUE(contains(out, "snmp_v3_regenerate_auth_key：用户 plain 未启用认证，无需生成密钥"));
    EXPECT_TRUE(contains(out, "snmp_v3_regenerate_auth_key：无可用认证密码"));
    EXPECT_TRUE(contains(out, "snmp_v3_regenerate_auth_key：用户不存在或未启用（nobody）"));
    EXPECT_TRUE(contains(out, "snmp_v3_regenerate_auth_key：无效用户名（空指针或长度为0）"));
    EXPECT_TRUE(contains(out, "snmp_v3_regenerate_auth_key：无效全局引擎ID长度 0"));
}

TEST_F(UsersTest, RegenerateAllCountsTheSuccesses) {
    LogCapture empty;
    EXPECT_EQ(snmp_v3_regenerate_all_auth_keys(), 0u);
    EXPECT_TRUE(contains(empty.take(), "snmp_v3_regenerate_all_auth_keys：无任何用户，无需更新"));

    const snmp_v3_user keyed = make_user("keyed", SNMP_V3_AUTH_SHA256, "keyedpassword");
    const snmp_v3_user plain = make_user("plain");
    const snmp_v3_user nopass = make_user("nopass", SNMP_V3_AUTH_MD5);
    ASSERT_TRUE(snmp_v3_user_add(&keyed));
    ASSERT_TRUE(snmp_v3_user_add(&plain));
    ASSERT_TRUE(snmp_v3_user_add(&nopass));
    LogCapture log;
    EXPECT_EQ(snmp_v3_regenerate_all_auth_keys(), 2u);
    EXPECT_TRUE(contains(log.take(), "snmp_v3_regenerate_all_auth_keys：更新完成（成功2/3）"));
    EXPECT_EQ(find("keyed")->auth_key_len, snmpv3_get_key_length(SNMP_V3_AUTH_SHA256, 1));
}

TEST_F(UsersTest, ConfiguredUserIsInstalledWithoutKeys) {
    agent_config cfg{};
    cfg.v3_user_enabled = 1;
    set_text(cfg.v3_username, cfg.v3_username_len, "cfguser");
    cfg.v3_auth_proto = SNMP_V3_AUTH_SHA1;
    cfg.v3_priv_proto = AGENT_PRIV_3DES;
    const std::string long_pass(AGENT_V3_PASS_SIZE, 'p');
    set_text(cfg.v3_auth_pass, cfg.v3_auth_pass_len, long_pass);
    set_text(cfg.v3_priv_pass, cfg.v3_priv_pass_len, "privpass");

    LogCapture log;
    snmp_v3_user_migrate_from_cfg(&cfg);
    const std::string out = log.take();
    ASSERT_EQ(g_snmpv3_user_mgr.user_count, 1u);
    const snmp_v3_user *user = find("cfguser");
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->keys_valid, 0);
    EXPECT_EQ(user->auth_proto, SNMP_V3_AUTH_SHA1);
    EXPECT_EQ(user->priv_proto, SNMP_V3_PRIV_3DES);  // agent 3 is 3DES, codec 5
    EXPECT_EQ(user->auth_pass_len, SNMP_V3_PASS_SIZE - 1);
    EXPECT_EQ(user->auth_pass[SNMP_V3_PASS_SIZE - 1], 0);
    EXPECT_EQ(user->priv_pass_len, 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(user->priv_pass)), "privpass");
    EXPECT_TRUE(contains(out, "用户迁移：开始处理用户 'cfguser' (密钥暂未生成)"));
    EXPECT_TRUE(contains(out, "用户迁移：用户 'cfguser' 迁移完成，等待第一个认证请求以生成密钥"));

    // A second installation of the same user is refused.
    LogCapture again;
    snmp_v3_user_migrate_from_cfg(&cfg);
    EXPECT_TRUE(contains(again.take(), "用户迁移：添加用户 'cfguser' 失败"));

    LogCapture skipped;
    cfg.v3_user_enabled = 0;
    snmp_v3_user_migrate_from_cfg(&cfg);
    snmp_v3_user_migrate_from_cfg(nullptr);
    EXPECT_TRUE(contains(skipped.take(), "用户迁移：未启用V3或无默认用户，跳过"));
    EXPECT_EQ(g_snmpv3_user_mgr.user_count, 1u);
}

TEST(PrivNumbering, AgentNumbersMapToCodecCodes) {
    EXPECT_EQ(snmp_v3_agent_priv_to_codec(AGENT_PRIV_NONE), SNMP_V3_PRIV_NONE);
    EXPECT_EQ(snmp_v3_agent_priv_to_codec(AGENT_PRIV_DES), SNMP_V3_PRIV_DES);
    EXPECT_EQ(snmp_v3_agent_priv_to_codec(AGENT_PRIV_AES128), SNMP_V3_PRIV_AES128);
    EXPECT_EQ(snmp_v3_agent_priv_to_codec(AGENT_PRIV_3DES), SNMP_V3_PRIV_3DES);
    EXPECT_EQ(snmp_v3_agent_priv_to_codec(AGENT_PRIV_AES192), SNMP_V3_PRIV_AES192);
    EXPECT_EQ(snmp_v3_agent_priv_to_codec(AGENT_PRIV_AES256), SNMP_V3_PRIV_AES256);
    EXPECT_EQ(snmp_v3_agent_priv_to_codec(SNMP_V3_PRIV_STD_AES256C), SNMP_V3_PRIV_STD_AES256C);
    EXPECT_EQ(snmp_v3_agent_priv_to_codec(SNMP_V3_PRIV_CODE_MAX + 1), SNMP_V3_PRIV_UNKNOWN);
}

}  // namespace
