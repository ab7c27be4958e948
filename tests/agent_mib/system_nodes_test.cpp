// The four system nodes and the default node set of the registry.
#include <string>
#include <vector>

#include "agent/tps.h"
#include "base/platform.h"
#include "mib_test_util.h"

namespace {

using namespace mib_test;

const snmp_oid kEngineIdOid = make_oid({1, 3, 6, 1, 6, 3, 10, 2, 1, 1});
const snmp_oid kSysDescrOid = make_oid({1, 3, 6, 1, 2, 1, 1, 1, 0});
const snmp_oid kSysUpTimeOid = make_oid({1, 3, 6, 1, 2, 1, 1, 3, 0});
const snmp_oid kSysContactOid = make_oid({1, 3, 6, 1, 2, 1, 1, 4, 0});

class SystemNodes : public DefaultMib {};

snmp_varbind octets(const std::string &text) {
    snmp_varbind vb{};
    vb.type = SNMP_TAG_OCTET_STRING;
    std::memcpy(vb.value.octets, text.data(), text.size());
    vb.value_len = static_cast<uint16_t>(text.size());
    return vb;
}

std::string text_value(const snmp_varbind &vb) {
    return {reinterpret_cast<const char *>(vb.value.octets), vb.value_len};
}

TEST_F(SystemNodes, DefaultNodesAreRegisteredInOrderWithTheirLogLines) {
    std::string log = capture_log([] {
        mib_registry_init();
        mib_registry_init_default_nodes();
    });
    for (const char *line : {"开始初始化默认MIB节点", "默认节点注册成功：snmpEngineID", "默认节点注册成功：sysDescr",
                             "默认节点注册成功：sysUpTime", "默认节点注册成功：sysContact", "初始化用户自定义MIB节点",
                             "默认MIB节点初始化完成，当前总节点数: 7"}) {
        EXPECT_TRUE(has_line(log, "INFO", line)) << line;
    }
    EXPECT_LT(log.find("默认节点注册成功：snmpEngineID"), log.find("默认节点注册成功：sysDescr"));
    EXPECT_LT(log.find("默认节点注册成功：sysContact"), log.find("开始初始化用户自定义MIB节点"));
    EXPECT_EQ(table_oids(),
              (std::vector<std::string>{"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.4.0",
                                        "1.3.6.1.4.1.12345.1.1", "1.3.6.1.4.1.12345.1.2", "1.3.6.1.4.1.12345.1.3",
                                        "1.3.6.1.6.3.10.2.1.1"}));
    const mib_node *uptime = mib_registry_find(&kSysUpTimeOid);
    ASSERT_NE(uptime, nullptr);
    EXPECT_EQ(uptime->poll_interval, 100u);
    EXPECT_EQ(uptime->type, SNMP_TAG_TIMETICKS);
    const mib_node *contact = mib_registry_find(&kSysContactOid);
    EXPECT_EQ(contact->access, MIB_ACCESS_READ_WRITE);
    EXPECT_EQ(contact->write, sys_contact_write);
    EXPECT_EQ(mib_registry_find(&kEngineIdOid)->access, MIB_ACCESS_READ_ONLY);

    // A second run finds every OID taken, reports each failure and goes on to the end.
    log = capture_log([] { mib_registry_init_default_nodes(); });
    EXPECT_TRUE(has_line(log, "ERROR", "默认节点注册失败：snmpEngineID（SNMPv3 功能将异常）")) << log;
    EXPECT_TRUE(has_line(log, "ERROR", "默认节点注册失败：sysContact")) << log;
    EXPECT_TRUE(has_line(log, "INFO", "默认MIB节点初始化完成，当前总节点数: 7")) << log;
}

TEST_F(SystemNodes, SysDescrAndSysUpTime) {
    snmp_varbind vb{};
    vb.oid = kSysDescrOid;
    ASSERT_EQ(agent_mib_get(&kSysDescrOid, &vb), MIB_OK);
    EXPECT_EQ(vb.type, SNMP_TAG_OCTET_STRING);
    EXPECT_EQ(text_value(vb), "Embedded SNMP Agent / Firmware V1.0.0");
    EXPECT_TRUE(same_oid(vb.oid, kSysDescrOid));

    // TimeTicks: hundredths of a second.
    uint32_t before = platform_get_tick() / 10;
    ASSERT_EQ(agent_mib_get(&kSysUpTimeOid, &vb), MIB_OK);
    uint32_t after = platform_get_tick() / 10;
    EXPECT_EQ(vb.type, SNMP_TAG_TIMETICKS);
    EXPECT_GE(static_cast<uint32_t>(vb.value.integer), before);
    EXPECT_LE(static_cast<uint32_t>(vb.value.integer), after);

    std::string log = capture_log([] {
        EXPECT_EQ(sys_descr_read(nullptr, nullptr), MIB_ERR_INVALID_ARG);
        EXPECT_EQ(sys_uptime_read(nullptr, nullptr), MIB_ERR_INVALID_ARG);
        EXPECT_EQ(sys_contact_read(nullptr, nullptr), MIB_ERR_INVALID_ARG);
        EXPECT_EQ(snmp_engine_id_read(nullptr, nullptr), MIB_ERR_INVALID_ARG);
    });
    EXPECT_TRUE(has_line(log, "ERROR", "sys_descr_read失败：varbind为空")) << log;
    EXPECT_TRUE(has_line(log, "ERROR", "snmp_engine_id_read: varbind 为空")) << log;
}

TEST_F(SystemNodes, SysContactWriteLimitsAndTypes) {
    snmp_varbind vb{};
    ASSERT_EQ(agent_mib_get(&kSysContactOid, &vb), MIB_OK);
    std::string initial = text_value(vb);
    EXPECT_NE(initial.find('@'), std::string::npos) << initial;

    snmp_varbind longest = octets(std::string(299, 'c'));
    ASSERT_EQ(agent_mib_set(&kSysContactOid, &longest), MIB_OK);
    snmp_varbind read_back{};
    ASSERT_EQ(sys_contact_read(nullptr, &read_back), MIB_OK);
    EXPECT_EQ(text_value(read_back), std::string(299, 'c'));
    EXPECT_EQ(read_back.value.octets[299], 0);

    snmp_varbind too_long = octets(std::string(300, 'd'));
    std::string log = capture_log([&] { EXPECT_EQ(sys_contact_write(nullptr, &too_long), MIB_ERR_TOO_LONG); });
    EXPECT_TRUE(has_line(log, "ERROR", "sys_contact_write失败：值过长（300 >= 300）")) << log;

    snmp_varbind integer{};
    integer.type = SNMP_TAG_INTEGER;
    log = capture_log([&] {
        EXPECT_EQ(sys_contact_write(nullptr, &integer), MIB_ERR_WRONG_TYPE);
        EXPECT_EQ(sys_contact_write(nullptr, nullptr), MIB_ERR_WRONG_TYPE);
    });
    EXPECT_TRUE(has_line(log, "ERROR", "sys_contact_write失败：类型错误（0x02），预期OCTET_STRING(0x04)")) << log;
    EXPECT_TRUE(has_line(log, "ERROR", "sys_contact_write失败：varbind为空")) << log;

    snmp_varbind shorter = octets("ops@example.net");
    log = capture_log([&] { EXPECT_EQ(sys_contact_write(nullptr, &shorter), MIB_OK); });
    EXPECT_TRUE(has_line(log, "INFO", "sys_contact_write成功：新值为'***'")) << log;
    ASSERT_EQ(sys_contact_read(nullptr, &read_back), MIB_OK);
    EXPECT_EQ(text_value(read_back), "ops@example.net");

    snmp_varbind restore = octets(initial);
    ASSERT_EQ(sys_contact_write(nullptr, &restore), MIB_OK);
}

TEST_F(SystemNodes, EngineIdComesFromTheConfiguration) {
    snmp_varbind vb{};
    std::string log = capture_log([&] { ASSERT_TRUE(mib_registry_get_snmp_engine_id(&vb)); });
    EXPECT_TRUE(same_oid(vb.oid, kEngineIdOid));
    EXPECT_EQ(vb.type, SNMP_TAG_OCTET_STRING);
    ASSERT_EQ(vb.value_len, sizeof(kEngineId));
    EXPECT_EQ(std::memcmp(vb.value.octets, kEngineId, sizeof(kEngineId)), 0);
    EXPECT_TRUE(has_line(log, "INFO", "snmp_engine_id_read: 成功，engine_id=80001F880476656B（长度=8）")) << log;

    // A length beyond the field is read as the field's 32 bytes.
    agent_cfg.engine_id_len = 200;
    ASSERT_EQ(snmp_engine_id_read(nullptr, &vb), MIB_OK);
    EXPECT_EQ(vb.value_len, SNMP_ENGINE_ID_SIZE);

    agent_cfg.engine_id_len = 0;
    log = capture_log([&] {
        EXPECT_EQ(snmp_engine_id_read(nullptr, &vb), MIB_ERR_NO_CALLBACK);
        EXPECT_FALSE(mib_registry_get_snmp_engine_id(&vb));
    });
    EXPECT_TRUE(has_line(log, "ERROR", "snmp_engine_id_read: engine_id 未初始化")) << log;
    EXPECT_TRUE(has_line(log, "ERROR", "mib_registry_get_snmp_engine_id: 调用读回调失败，错误码: -35")) << log;

    log = capture_log([&] {
        EXPECT_FALSE(mib_registry_get_snmp_engine_id(nullptr));
        ASSERT_TRUE(mib_registry_remove(&kEngineIdOid));
        EXPECT_FALSE(mib_registry_get_snmp_engine_id(&vb));
    });
    EXPECT_TRUE(has_line(log, "ERROR", "mib_registry_get_snmp_engine_id: out_vb 为空指针")) << log;
    EXPECT_TRUE(has_line(log, "FATAL", "mib_registry_get_snmp_engine_id: 关键错误！snmpEngineID节点未注册。")) << log;

    mib_node no_read{};
    no_read.oid = kEngineIdOid;
    no_read.type = SNMP_TAG_OCTET_STRING;
    no_read.name = "snmpEngineID";
    ASSERT_TRUE(mib_registry_add(&no_read));
    log = capture_log([&] { EXPECT_FALSE(mib_registry_get_snmp_engine_id(&vb)); });
    EXPECT_TRUE(has_line(log, "FATAL", "mib_registry_get_snmp_engine_id: 关键错误！snmpEngineID节点无读回调。")) << log;
}

}  // namespace
