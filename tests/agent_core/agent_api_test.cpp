// The public interface of the agent library: argument checks, result codes, lifecycle states, node
// registration, identity, users, custom notifications and the manager whitelist.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apps/app_os/app_os.h"
#include "agent/agent.h"
#include "agent/agent_mib.h"
#include "agent/mib_registry.h"
#include "agent/snmpv3_user_mgr.h"
#include "codec/oid_literal.h"
#include "tests/agent_core/agent_core_support.h"

namespace {

using namespace agent_core_test;

constexpr uint32_t kDefaultNodes = 7;  // 4 system nodes and 3 sample device nodes

int32_t read_seven(agent_snmp_vb *, agent_snmp_vb *out, void *) {
    out->type = AGENT_SNMP_TYPE_INTEGER;
    out->value.i32 = 7;
    return 0;
}

agent_snmp_cfg config(uint16_t port, uint16_t engine_id_len = sizeof kEngineId) {
    agent_snmp_cfg cfg{};
    std::strcpy(cfg.ro_community, kReadOnly);
    std::strcpy(cfg.rw_community, kReadWrite);
    std::memcpy(cfg.engine_id, kEngineId, sizeof kEngineId);
    cfg.engine_id_len = engine_id_len;
    cfg.port = port;
    cfg.poll_period = kPollPeriodMs;
    cfg.log_level = AGENT_LOG_FATAL;
    return cfg;
}

// An initialised (not started) agent; every test starts from scratch.
class AgentApi : public testing::Test {
   protected:
    void SetUp() override {
        agent_snmp_set_log_level(AGENT_LOG_FATAL);
        agent_init_self();
        port_ = agent_test::free_udp_port();
        const agent_snmp_cfg cfg = config(port_);
        ASSERT_EQ(agent_snmp_init(&cfg), AGENT_SNMP_OK);
    }
    void TearDown() override {
        agent_snmp_stop();
        agent_init_self();
    }

    uint16_t port_ = 0;
};

agent_snmp_v3_user user_named(const std::string &name, uint8_t auth = AGENT_SNMP_AUTH_SHA1,
                              uint8_t priv = AGENT_SNMP_PRIV_AES128) {
    agent_snmp_v3_user u{};
    std::strcpy(u.username, name.c_str());
    u.auth_proto = auth;
    std::strcpy(u.auth_pass, "authpassword");
    u.priv_proto = priv;
    std::strcpy(u.priv_pass, "privpassword");
    return u;
}

TEST(AgentApiText, OidValidationAndErrorTexts) {
    EXPECT_TRUE(agent_snmp_oid_validate(".1.3.6.1"));
    EXPECT_TRUE(agent_snmp_oid_validate("1"));
    EXPECT_TRUE(agent_snmp_oid_validate("1.3.4294967295"));
    EXPECT_FALSE(agent_snmp_oid_validate("3.6.1"));
    EXPECT_FALSE(agent_snmp_oid_validate("1..3"));
    EXPECT_FALSE(agent_snmp_oid_validate("1.3."));
    EXPECT_FALSE(agent_snmp_oid_validate("1.3.4294967296"));
    EXPECT_FALSE(agent_snmp_oid_validate("1.3.12345678901"));
    EXPECT_FALSE(agent_snmp_oid_validate("1.3.a"));
    EXPECT_FALSE(agent_snmp_oid_validate(""));
    EXPECT_FALSE(agent_snmp_oid_validate(nullptr));
    EXPECT_FALSE(agent_snmp_oid_validate(("1" + std::string(127, '1')).c_str()));

    EXPECT_STREQ(agent_snmp_err_to_str(0), "Success");
    EXPECT_STREQ(agent_snmp_err_to_str(4), "SNMP port occupied");
    EXPECT_STREQ(agent_snmp_err_to_str(20), "SNMP BER decode error");
    EXPECT_STREQ(agent_snmp_err_to_str(21), "Unknown error");
    EXPECT_STREQ(agent_snmp_err_to_str(99), "Unknown error");
    EXPECT_STREQ(agent_snmp_err_to_str(-1), "Unknown error");
}

TEST(AgentApiLifecycle, StatesAndInitialisationResults) {
    agent_snmp_set_log_level(AGENT_LOG_FATAL);
    agent_init_self();
    EXPECT_EQ(agent_snmp_init(nullptr), AGENT_SNMP_ERR_PARAM);
    agent_snmp_cfg no_port = config(0);
    EXPECT_EQ(agent_snmp_init(&no_port), AGENT_SNMP_ERR_PARAM);
    EXPECT_EQ(agent_snmp_get_state(), AGENT_SNMP_STATE_UNINIT);

    // A port that cannot be bound (what each system does: agent_api_test_<system>.cpp).
    Peer holder;
    agent_snmp_cfg cfg = config(holder.port());
    expect_port_in_use_outcome(cfg, holder.port());

    // Without an engine ID the agent counts as not initialised.
    cfg = config(agent_test::free_udp_port(), 0);
    EXPECT_EQ(agent_snmp_init(&cfg), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_get_state(), AGENT_SNMP_STATE_UNINIT);
    agent_init_self();

    cfg = config(agent_test::free_udp_port());
    ASSERT_EQ(agent_snmp_init(&cfg), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_get_state(), AGENT_SNMP_STATE_INIT);
    EXPECT_EQ(agent_snmp_init(&cfg), AGENT_SNMP_ERR_INIT);
    ASSERT_EQ(agent_snmp_start(), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_get_state(), AGENT_SNMP_STATE_RUNNING);
    EXPECT_EQ(agent_snmp_start(), AGENT_SNMP_ERR_PARAM);
    agent_snmp_deinit();
    EXPECT_EQ(agent_snmp_get_state(), AGENT_SNMP_STATE_INIT);
    EXPECT_EQ(agent_snmp_mib_get_count(), kDefaultNodes);  // stopping keeps the nodes
    agent_init_self();
}

TEST(AgentApiCommunities, AnEmptyCommunityAdmitsNoRequest) {
    agent_snmp_set_log_level(AGENT_LOG_FATAL);
    agent_init_self();
    agent_snmp_cfg cfg = config(agent_test::free_udp_port());
    cfg.rw_community[0] = '\0';  // no read-write community: nobody may write
    ASSERT_EQ(agent_snmp_init(&cfg), AGENT_SNMP_OK);
    Peer manager;
    Request set = get_request(SNMP_VERSION_2C, "", {}, SNMP_OP_SET);
    set.bindings = {octets_binding(kSysContactOid, "intruder")};
    const Bytes bytes = encode(set);
    const uint8_t loopback[] = {127, 0, 0, 1};
    agent_nms_snmp_msg_from(TRANS_ETH, bytes.data(), static_cast<uint16_t>(bytes.size()), loopback,
                            manager.port());
    const std::optional<Datagram> reply = manager.receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(decode(reply->bytes).pdu().error_status, 2u);  // noSuchName: unknown community
    agent_init_self();
}

TEST_F(AgentApi, RegistrationResultsAndCapacity) {
    EXPECT_EQ(agent_snmp_mib_get_count(), kDefaultNodes);
    EXPECT_EQ(agent_snmp_mib_register("1.3.6.1.4.1.999.1.0", 0, nullptr, nullptr, 0, nullptr),
              AGENT_SNMP_ERR_PARAM);
    EXPECT_EQ(agent_snmp_mib_get_count(), kDefaultNodes);
    EXPECT_EQ(agent_snmp_mib_register(nullptr, 0, read_seven, nullptr, 0, nullptr), AGENT_SNMP_ERR_PARAM);
    EXPECT_EQ(agent_snmp_mib_register("1.3.x", 0, read_seven, nullptr, 0, nullptr),
              AGENT_SNMP_ERR_OID_INVALID);
    ASSERT_EQ(agent_snmp_mib_register("1.3.6.1.4.1.999.1.0", 0, read_seven, nullptr, 0, nullptr),
              AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_mib_register(".1.3.6.1.4.1.999.1.0", 0, read_seven, nullptr, 0, nullptr),
              AGENT_SNMP_ERR_OID_EXISTS);

    // An OID of more components than the system holds is refused, not cut to a different OID.
    std::string long_oid = "1.3";
    for (uint32_t i = 0; i < SNMP_MAX_OID_LEN - 1; ++i) {
        long_oid += ".1";
    }
    EXPECT_EQ(agent_snmp_mib_register(long_oid.c_str(), 0, read_seven, nullptr, 0, nullptr),
              AGENT_SNMP_ERR_OID_INVALID);

    static std::vector<std::string> names;
    names.clear();
    for (uint32_t i = 0; i < MIB_MAX_NODES - kDefaultNodes - 1; ++i) {
        names.push_back("1.3.6.1.4.1.999.2." + std::to_string(i));
    }
    for (const std::string &name : names) {
        ASSERT_EQ(agent_snmp_mib_register(name.c_str(), 0, read_seven, nullptr, 0, nullptr), AGENT_SNMP_OK);
    }
    EXPECT_EQ(agent_snmp_mib_get_count(), MIB_MAX_NODES);
    EXPECT_EQ(agent_snmp_mib_register("1.3.6.1.4.1.999.3", 0, read_seven, nullptr, 0, nullptr),
              AGENT_SNMP_ERR_MIB_FULL);

    EXPECT_EQ(agent_snmp_mib_unregister(""), AGENT_SNMP_ERR_PARAM);
    EXPECT_EQ(agent_snmp_mib_unregister("1.3.6.1.4.1.999.9"), AGENT_SNMP_ERR_OID_INVALID);
    EXPECT_EQ(agent_snmp_mib_unregister("1..3"), AGENT_SNMP_ERR_OID_INVALID);
    EXPECT_EQ(agent_snmp_mib_unregister(".1.3.6.1.4.1.999.1.0"), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_mib_get_count(), MIB_MAX_NODES - 1);
}

int32_t no_instance(agent_snmp_vb *, void *) { return AGENT_SNMP_CB_NO_SUCH; }

int32_t no_row(uint32_t, uint32_t *, uint32_t, agent_snmp_vb *, void *) { return AGENT_SNMP_CB_NO_SUCH; }

TEST_F(AgentApi, SubtreeTableAndSystemGroupResults) {
    const agent_snmp_subtree_ops ops{no_instance, no_instance, nullptr, nullptr, nullptr};
    const agent_snmp_subtree_ops no_next{no_instance, nullptr, nullptr, nullptr, nullptr};
    std::string long_prefix = "1";  // 32 arcs: no room for an instance under it
    for (uint32_t i = 1; i < SNMP_MAX_OID_LEN; ++i) {
        long_prefix += ".1";
    }
    struct Case {
        const char *what;
        int32_t result;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {"subtree", agent_snmp_subtree_register("1.3.6.1.4.1.77", &ops, nullptr), AGENT_SNMP_OK},
        {"same prefix", agent_snmp_subtree_register(".1.3.6.1.4.1.77", &ops, nullptr), AGENT_SNMP_ERR_OID_EXISTS},
        {"no get_next", agent_snmp_subtree_register("1.3.6.1.4.1.78", &no_next, nullptr), AGENT_SNMP_ERR_PARAM},
        {"prefix leaves no room", agent_snmp_subtree_register(long_prefix.c_str(), &ops, nullptr),
         AGENT_SNMP_ERR_OID_INVALID},
        {"table", agent_snmp_table_register("1.3.6.1.4.1.79.1", AGENT_SNMP_INDEX_IPV4, 64, ~uint64_t{0}, no_row,
                                            nullptr),
         AGENT_SNMP_OK},
        {"no columns", agent_snmp_table_register("1.3.6.1.4.1.80.1", 0, 0, 0, no_row, nullptr), AGENT_SNMP_ERR_PARAM},
        {"writable column past the last", agent_snmp_table_register("1.3.6.1.4.1.80.1", 0, 2, 4, no_row, nullptr),
         AGENT_SNMP_ERR_PARAM},
        {"unknown index kind", agent_snmp_table_register("1.3.6.1.4.1.80.1", 2, 2, 0, no_row, nullptr),
         AGENT_SNMP_ERR_PARAM},
        {"unregister unknown", agent_snmp_subtree_unregister("1.3.6.1.4.1.81"), AGENT_SNMP_ERR_OID_INVALID},
        {"unregister table", agent_snmp_subtree_unregister("1.3.6.1.4.1.79.1"), AGENT_SNMP_OK},
        {"sysObjectID", agent_snmp_set_sys_object_id("1.3.6.1.4.1.54321.7"), AGENT_SNMP_OK},
        {"sysObjectID of one arc", agent_snmp_set_sys_object_id("1"), AGENT_SNMP_ERR_OID_INVALID},
        {"sysName", agent_snmp_set_sys_name(std::string(AGENT_SNMP_SYS_TEXT_MAX, 'n').c_str()), AGENT_SNMP_OK},
        {"sysName too long", agent_snmp_set_sys_name(std::string(AGENT_SNMP_SYS_TEXT_MAX + 1, 'n').c_str()),
         AGENT_SNMP_ERR_PARAM},
        {"sysLocation", agent_snmp_set_sys_location(nullptr), AGENT_SNMP_ERR_PARAM},
        {"sysServices", agent_snmp_set_sys_services(128), AGENT_SNMP_ERR_PARAM},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.what;
    }
    // Up to 16 subtrees beside the 32 exact nodes.
    for (uint32_t i = agent_snmp_subtree_get_count(); i < AGENT_SNMP_MAX_SUBTREES; ++i) {
        const std::string prefix = "1.3.6.1.4.1.90." + std::to_string(i);
        ASSERT_EQ(agent_snmp_subtree_register(prefix.c_str(), &ops, nullptr), AGENT_SNMP_OK) << i;
    }
    EXPECT_EQ(agent_snmp_subtree_register("1.3.6.1.4.1.91", &ops, nullptr), AGENT_SNMP_ERR_MIB_FULL);
    EXPECT_EQ(agent_snmp_mib_get_count(), kDefaultNodes);
    EXPECT_EQ(agent_snmp_mib_register("1.3.6.1.4.1.92.0", 0, read_seven, nullptr, 0, nullptr), AGENT_SNMP_OK);
}

TEST_F(AgentApi, ApplicationTakesOverAStandardGroup) {
    const agent_snmp_subtree_ops empty{no_instance, no_instance, nullptr, nullptr, nullptr};
    snmp_varbind vb{};
    const snmp_oid sys_name = vek::codec::make_oid({1, 3, 6, 1, 2, 1, 1, 5, 0});
    const snmp_oid in_pkts = vek::codec::make_oid({1, 3, 6, 1, 2, 1, 11, 1, 0});
    ASSERT_EQ(agent_snmp_set_sys_name("device-7"), AGENT_SNMP_OK);
    ASSERT_EQ(agent_mib_get(&sys_name, &vb), MIB_OK);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(vb.value.octets), vb.value_len), "device-7");
    // An exact node of the application answers for one object, a subtree at the group's prefix for
    // the whole group; the library's group comes back when that subtree goes.
    ASSERT_EQ(agent_snmp_mib_register("1.3.6.1.2.1.1.5.0", 0, read_seven, nullptr, 0, nullptr), AGENT_SNMP_OK);
    ASSERT_EQ(agent_mib_get(&sys_name, &vb), MIB_OK);
    EXPECT_EQ(vb.value.integer, 7);
    ASSERT_EQ(agent_mib_get(&in_pkts, &vb), MIB_OK);
    ASSERT_EQ(agent_snmp_subtree_register("1.3.6.1.2.1.11", &empty, nullptr), AGENT_SNMP_OK);
    EXPECT_EQ(agent_mib_get(&in_pkts, &vb), MIB_ERR_NO_SUCH_INSTANCE);
    ASSERT_EQ(agent_snmp_subtree_unregister("1.3.6.1.2.1.11"), AGENT_SNMP_OK);
    EXPECT_EQ(agent_mib_get(&in_pkts, &vb), MIB_OK);
}

TEST_F(AgentApi, RefreshStoresTheSnapshotOfARegisteredNode) {
    ASSERT_EQ(agent_snmp_mib_register("1.3.6.1.4.1.999.4.0", 0, read_seven, nullptr, 0, nullptr),
              AGENT_SNMP_OK);
    agent_snmp_vb vb{};
    std::strcpy(vb.oid, ".1.3.6.1.4.1.999.4.0");
    vb.type = AGENT_SNMP_TYPE_GAUGE32;
    vb.value.u32 = 1234;
    agent_snmp_mib_refresh(&vb);
    uint8_t count = 0;
    const mib_node *nodes = mib_registry_get_all(&count);
    bool found = false;
    for (uint8_t i = 0; i < count; ++i) {
        if (text_of(nodes[i].oid) == "1.3.6.1.4.1.999.4.0") {
            found = true;
            EXPECT_EQ(g_mib_db[i].valid, 1);
            EXPECT_EQ(g_mib_db[i].vb.type, SNMP_TAG_GAUGE32);
            EXPECT_EQ(static_cast<uint32_t>(g_mib_db[i].vb.value.integer), 1234u);
        }
    }
    EXPECT_TRUE(found);
    agent_snmp_mib_refresh(nullptr);  // ignored
}

TEST_F(AgentApi, EngineIdAndCommunities) {
    std::array<uint8_t, 40> too_long{};
    EXPECT_EQ(agent_snmp_set_engine_id(too_long.data(), 33), AGENT_SNMP_ERR_PARAM);
    EXPECT_EQ(agent_snmp_set_engine_id(nullptr, 4), AGENT_SNMP_ERR_PARAM);
    std::array<uint8_t, AGENT_SNMP_ENGINE_ID_SIZE> buf{};
    EXPECT_EQ(agent_snmp_get_engine_id(buf.data(), 4), 0);
    ASSERT_EQ(agent_snmp_get_engine_id(buf.data(), static_cast<uint8_t>(buf.size())), sizeof kEngineId);
    EXPECT_EQ(std::memcmp(buf.data(), kEngineId, sizeof kEngineId), 0);

    const uint8_t new_id[] = {0x80, 0, 0, 1, 2};
    ASSERT_EQ(agent_snmp_set_engine_id(new_id, sizeof new_id), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_get_engine_id(buf.data(), static_cast<uint8_t>(buf.size())), sizeof new_id);

    std::array<char, 8> ro{};
    std::array<char, 4> rw{};
    EXPECT_EQ(agent_snmp_get_community(nullptr, 8, rw.data(), 4), AGENT_SNMP_ERR_PARAM);
    ASSERT_EQ(agent_snmp_get_community(ro.data(), static_cast<uint8_t>(ro.size()), rw.data(),
                                       static_cast<uint8_t>(rw.size())),
              AGENT_SNMP_OK);
    EXPECT_STREQ(ro.data(), "public");
    EXPECT_STREQ(rw.data(), "pri");  // cut to size - 1
    char untouched[1] = {'x'};
    EXPECT_EQ(agent_snmp_get_community(untouched, 1, rw.data(), 4), AGENT_SNMP_OK);
    EXPECT_EQ(untouched[0], 'x');
}

TEST_F(AgentApi, UsersAddGetDeleteAndLimits) {
    EXPECT_EQ(agent_snmp_v3_user_add(nullptr), AGENT_SNMP_ERR_PARAM);
    agent_snmp_v3_user odd = user_named("odd", AGENT_SNMP_AUTH_STD_SHA512 + 1, AGENT_SNMP_PRIV_NONE);
    EXPECT_EQ(agent_snmp_v3_user_add(&odd), AGENT_SNMP_ERR_PARAM);
    for (int i = 0; i < 5; ++i) {
        const agent_snmp_v3_user u = user_named("user" + std::to_string(i));
        ASSERT_EQ(agent_snmp_v3_user_add(&u), AGENT_SNMP_OK);
    }
    const agent_snmp_v3_user sixth = user_named("user5");
    EXPECT_EQ(agent_snmp_v3_user_add(&sixth), AGENT_SNMP_ERR_V3_USER_FULL);
    EXPECT_EQ(agent_snmp_v3_get_count(), 5u);

    agent_snmp_v3_user out{};
    std::memset(&out, 0x5A, sizeof out);
    ASSERT_EQ(agent_snmp_v3_user_get("user2", &out), AGENT_SNMP_OK);
    EXPECT_STREQ(out.username, "user2");
    EXPECT_EQ(out.auth_proto, AGENT_SNMP_AUTH_SHA1);
    EXPECT_EQ(out.priv_proto, AGENT_SNMP_PRIV_AES128);
    EXPECT_EQ(out.auth_pass[0], '\0');  // passwords never come back
    EXPECT_EQ(out.priv_pass[0], '\0');
    EXPECT_EQ(agent_snmp_v3_user_get("user", &out), AGENT_SNMP_ERR_V3_USER_NOT_FOUND);
    EXPECT_EQ(agent_snmp_v3_user_get("", &out), AGENT_SNMP_ERR_PARAM);

    EXPECT_EQ(agent_snmp_v3_user_del("nobody"), AGENT_SNMP_ERR_V3_USER_NOT_FOUND);
    EXPECT_EQ(agent_snmp_v3_user_del(nullptr), AGENT_SNMP_ERR_PARAM);
    ASSERT_EQ(agent_snmp_v3_user_del("user0"), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_v3_get_count(), 4u);
    const agent_snmp_v3_user again = user_named("user1");
    EXPECT_EQ(agent_snmp_v3_user_add(&again), AGENT_SNMP_ERR_V3_USER_DUP);
}

TEST_F(AgentApi, NewEngineIdLocalisesEveryUsersKeysToIt) {
    const agent_snmp_v3_user auth_only = user_named("authonly", AGENT_SNMP_AUTH_MD5, AGENT_SNMP_PRIV_NONE);
    const agent_snmp_v3_user with_priv = user_named("withpriv", AGENT_SNMP_AUTH_SHA1, AGENT_SNMP_PRIV_DES);
    ASSERT_EQ(agent_snmp_v3_user_add(&auth_only), AGENT_SNMP_OK);
    ASSERT_EQ(agent_snmp_v3_user_add(&with_priv), AGENT_SNMP_OK);
    const snmp_v3_user *first = snmp_v3_user_find(reinterpret_cast<const uint8_t *>("authonly"), 8);
    const snmp_v3_user *second = snmp_v3_user_find(reinterpret_cast<const uint8_t *>("withpriv"), 8);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const std::vector<uint8_t> old_priv(second->priv_key, second->priv_key + second->priv_key_len);
    const uint8_t new_id[] = {0x80, 0, 0, 9, 9, 9};
    ASSERT_EQ(agent_snmp_set_engine_id(new_id, sizeof new_id), AGENT_SNMP_OK);
    EXPECT_EQ(first->auth_key_len, 16);
    EXPECT_EQ(first->keys_valid, 1);   // both keys of every user follow the engine at once
    EXPECT_EQ(second->keys_valid, 1);
    ASSERT_EQ(second->priv_key_len, 8);
    EXPECT_NE(std::vector<uint8_t>(second->priv_key, second->priv_key + 8), old_priv);
}

TEST_F(AgentApi, CustomNotificationsCheckTheirArgumentsAndAreSent) {
    std::array<agent_snmp_vb, 9> vbs{};
    for (agent_snmp_vb &vb : vbs) {
        std::strcpy(vb.oid, "1.3.6.1.4.1.999.7.1");
        vb.type = AGENT_SNMP_TYPE_INTEGER;
        vb.value.i32 = 5;
    }
    Peer sink;
    EXPECT_EQ(agent_snmp_trap_custom("127.0.0.1", sink.port(), "1.3.6.1.4.1.999.0.1", vbs.data(), 9),
              AGENT_SNMP_ERR_PARAM);
    EXPECT_EQ(agent_snmp_trap_custom("127.0.0.1", sink.port(), nullptr, vbs.data(), 1), AGENT_SNMP_ERR_PARAM);

    std::strcpy(vbs[1].oid, "1.3.6.x");
    agent_snmp_set_log_level(AGENT_LOG_ERROR);
    {
        LogCapture log;
        EXPECT_EQ(agent_snmp_trap_custom("127.0.0.1", sink.port(), "1.3.6.1.4.1.999.0.1", vbs.data(), 2),
                  AGENT_SNMP_ERR_OID_INVALID);
        EXPECT_TRUE(agent_test::contains(log.take(), "Trap varbind[1] invalid oid string: 1.3.6.x"));
    }
    {
        LogCapture log;
        EXPECT_EQ(agent_snmp_inform_custom("127.0.0.1", sink.port(), "1.3.6.1.4.1.999.0.1", vbs.data(), 2),
                  AGENT_SNMP_ERR_OID_INVALID);
        EXPECT_TRUE(agent_test::contains(log.take(), "Inform varbind[1] invalid oid string: 1.3.6.x"));
    }
    agent_snmp_set_log_level(AGENT_LOG_FATAL);

    std::strcpy(vbs[1].oid, ".1.3.6.1.4.1.999.7.2");
    vbs[1].type = AGENT_SNMP_TYPE_OCTET_STRING;
    std::memcpy(vbs[1].value.bytes, "door", 4);
    vbs[1].len = 4;
    ASSERT_EQ(agent_snmp_trap_custom("127.0.0.1", sink.port(), ".1.3.6.1.4.1.999.0.1", vbs.data(), 2),
              AGENT_SNMP_OK);
    const std::optional<Datagram> trap = sink.receive();
    ASSERT_TRUE(trap.has_value());
    const Answer decoded = decode(trap->bytes);
    ASSERT_TRUE(decoded.decoded);
    EXPECT_EQ(decoded.pdu().op, SNMP_OP_TRAP);
    ASSERT_EQ(decoded.pdu().varbind_count, 4);
    EXPECT_EQ(text_of(decoded.pdu().varbinds[1].value.oid_value), "1.3.6.1.4.1.999.0.1");
    EXPECT_EQ(text_of(decoded.pdu().varbinds[2].oid), "1.3.6.1.4.1.999.7.1");
    EXPECT_EQ(decoded.pdu().varbinds[2].value.integer, 5);
    EXPECT_EQ(text_of(decoded.pdu().varbinds[3].oid), "1.3.6.1.4.1.999.7.2");
    EXPECT_EQ(octets_of(decoded.pdu().varbinds[3]), "door");
}

TEST_F(AgentApi, WhitelistTakesEffectOnBothTransportsAtOnce) {
    std::array<uint32_t, 9> addresses{};
    for (size_t i = 0; i < addresses.size(); ++i) {
        addresses[i] = htonl(0x0A000001u + static_cast<uint32_t>(i));
    }
    EXPECT_EQ(agent_snmp_whitelist_add(nullptr), AGENT_SNMP_ERR_PARAM);
    EXPECT_EQ(agent_snmp_whitelist_remove(&addresses[0]), AGENT_SNMP_ERR_PARAM);  // empty list
    ASSERT_EQ(agent_snmp_whitelist_add(&addresses[0]), AGENT_SNMP_OK);
    ASSERT_EQ(agent_snmp_whitelist_add(&addresses[0]), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_whitelist_get_count(), 1u);
    EXPECT_EQ(eth_trans_ctx.whitelist_count, 1);
    EXPECT_EQ(es_trans_ctx.whitelist_count, 1);
    for (size_t i = 1; i < 8; ++i) {
        ASSERT_EQ(agent_snmp_whitelist_add(&addresses[i]), AGENT_SNMP_OK);
    }
    EXPECT_EQ(agent_snmp_whitelist_add(&addresses[8]), AGENT_SNMP_ERR_TARGET_FULL);
    EXPECT_EQ(agent_snmp_whitelist_add(&addresses[3]), AGENT_SNMP_OK);  // present: accepted as is

    ASSERT_EQ(agent_snmp_whitelist_remove(&addresses[2]), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_whitelist_get_count(), 7u);
    EXPECT_EQ(agent_cfg.trusted_nms[2], addresses[3]);  // later entries move down
    EXPECT_EQ(eth_trans_ctx.whitelist_count, 7);
    EXPECT_EQ(std::memcmp(eth_trans_ctx.whitelist[2], &addresses[3], 4), 0);
    EXPECT_EQ(agent_snmp_whitelist_remove(&addresses[8]), AGENT_SNMP_ERR_PARAM);

    EXPECT_EQ(agent_snmp_whitelist_clear(), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_whitelist_get_count(), 0u);
    EXPECT_EQ(eth_trans_ctx.whitelist_count, 0);
}

}  // namespace
