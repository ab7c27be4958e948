// Our manager against a standard agent over standard SNMPv3: veksnmpnms and the manager library
// against an snmpd with createUser users for every pair of usm_support.h.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "nms/vek_nms_sdk.h"
#include "tests/agent_e2e/agent_e2e_support.h"
#include "tests/nms_api/nms_api_test_support.h"
#include "tests/usm_std/usm_support.h"

namespace {

using namespace usm_test;
using agent_e2e::run_cli;
using apps_test::run_result;
using apps_test::snmpd_peer;
using vek::test::Collector;

constexpr const char *kSysDescr = "1.3.6.1.2.1.1.1.0";
constexpr const char *kSystem = "1.3.6.1.2.1.1";
constexpr const char *kSysName = "1.3.6.1.2.1.1.5.0";
constexpr uint8_t kRepetitions = 5;
constexpr uint32_t kTimeoutMs = 3000;

// The API's standard codes by the standard tools' names.
const std::map<std::string, uint32_t> kAuthCodes = {
    {"MD5", API_SNMP_AUTH_STD_MD5},       {"SHA", API_SNMP_AUTH_STD_SHA1},       {"SHA-224", API_SNMP_AUTH_STD_SHA224},
    {"SHA-256", API_SNMP_AUTH_STD_SHA256}, {"SHA-384", API_SNMP_AUTH_STD_SHA384}, {"SHA-512", API_SNMP_AUTH_STD_SHA512}};
const std::map<std::string, uint32_t> kPrivCodes = {
    {"", API_SNMP_PRIV_NONE},                {"DES", API_SNMP_PRIV_STD_DES},
    {"AES", API_SNMP_PRIV_STD_AES128},       {"AES-192", API_SNMP_PRIV_STD_AES192},
    {"AES-256", API_SNMP_PRIV_STD_AES256},   {"AES-192-C", API_SNMP_PRIV_STD_AES192C},
    {"AES-256-C", API_SNMP_PRIV_STD_AES256C}};

std::string snmpd_users() {
    std::string config;
    for (size_t i = 0; i < kPairs.size(); ++i) {
        config += create_user_line(kPairs[i], user_name(i));
        config += "rwuser " + user_name(i) + (kPairs[i].priv.empty() ? " auth\n" : " priv\n");
    }
    return config;
}

api_snmp_v3_user_config user_config(const usm_pair &pair, const std::string &name, const std::string &auth_pass) {
    api_snmp_v3_user_config user{};
    std::snprintf(user.user_name, sizeof user.user_name, "%s", name.c_str());
    user.auth_alg = kAuthCodes.at(pair.auth);
    user.auth_password = auth_pass.c_str();
    user.priv_alg = kPrivCodes.at(pair.priv);
    user.priv_password = kPrivPass.c_str();
    return user;
}

class StdUsmManager : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        snmpd_ = std::make_unique<snmpd_peer>(snmpd_users());
        api_snmp_init();
        api_snmp_register_response_callback(Collector::on_response);
    }
    static void TearDownTestSuite() {
        api_snmp_destroy();
        snmpd_.reset();
    }
    void SetUp() override {
        if (!snmpd_->skip_reason().empty()) {
            GTEST_SKIP() << snmpd_->skip_reason();
        }
        const api_snmp_agent_config config = vek::test::agent_config(API_SNMP_V3, "");
        if (!api_snmp_agent_exist(vek::test::kLoopback, snmpd_->port())) {
            ASSERT_EQ(api_snmp_agent_create(vek::test::kLoopback, snmpd_->port(), &config), API_SNMP_OK);
        }
    }

    // One answer of the library to a request just sent for the user.
    std::optional<vek::test::ResponseEvent> answer(api_snmp_err sent) {
        EXPECT_EQ(sent, API_SNMP_OK);
        return sent == API_SNMP_OK ? collector_.next_response(std::chrono::seconds(10)) : std::nullopt;
    }

    static std::unique_ptr<snmpd_peer> snmpd_;
    Collector collector_;
};

std::unique_ptr<snmpd_peer> StdUsmManager::snmpd_;

TEST_F(StdUsmManager, VeksnmpnmsAndTheLibraryForEveryPair) {
    const char *ip = vek::test::kLoopback;
    const uint16_t port = snmpd_->port();
    for (size_t i = 0; i < kPairs.size(); ++i) {
        const usm_pair &pair = kPairs[i];
        const std::string user = user_name(i);
        SCOPED_TRACE(label(pair));

        const run_result cli = run_cli(joined(joined({"get", "-v", "3", "-s", "std", "-t", "3000"},
                                                     security_args(pair, user)),
                                              {snmpd_->target(), kSysDescr}));
        EXPECT_NE(cli.out.find("OID：1.3.6.1.2.1.1.1.0 = STRING: Test agent"), std::string::npos) << cli.out;

        const api_snmp_v3_user_config config = user_config(pair, user, kAuthPass);
        ASSERT_EQ(api_snmp_user_add(ip, port, &config), API_SNMP_OK);
        const api_snmp_varbind system = vek::test::get_varbind(kSystem);
        auto bulk = answer(api_snmp_get_bulk(ip, port, user.c_str(), 0, kRepetitions, &system, 1, kTimeoutMs, &collector_));
        ASSERT_TRUE(bulk.has_value());
        EXPECT_EQ(bulk->response.error, API_SNMP_OK);
        ASSERT_EQ(bulk->response.var_count, kRepetitions);
        EXPECT_STREQ(bulk->response.varbinds[0].oid, kSysDescr);
        EXPECT_EQ(vek::test::value_text(bulk->response.varbinds[0]), "Test agent");

        api_snmp_varbind name{};
        ASSERT_EQ(api_snmp_create_set_varbind(kSysName, "s", ("name-" + user).c_str(), &name), API_SNMP_OK);
        auto set = answer(api_snmp_set(ip, port, user.c_str(), &name, 1, kTimeoutMs, &collector_));
        ASSERT_TRUE(set.has_value());
        EXPECT_EQ(set->response.error, API_SNMP_OK);
        EXPECT_EQ(set->response.error_status, 0u);
        EXPECT_EQ(api_snmp_user_remove(ip, port, user.c_str()), API_SNMP_OK);
    }
}

TEST_F(StdUsmManager, AWrongPasswordFailsAndAUserOfTwoSchemesIsRefused) {
    const char *ip = vek::test::kLoopback;
    const uint16_t port = snmpd_->port();
    const api_snmp_v3_user_config wrong = user_config(kPairs[7], user_name(7), kWrongPass);
    ASSERT_EQ(api_snmp_user_add(ip, port, &wrong), API_SNMP_OK);
    const api_snmp_varbind descr = vek::test::get_varbind(kSysDescr);
    auto refused = answer(api_snmp_get(ip, port, wrong.user_name, &descr, 1, kTimeoutMs, &collector_));
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->response.error, API_SNMP_ERR_AUTH_FAILED);
    EXPECT_EQ(refused->response.var_count, 0);
    EXPECT_EQ(api_snmp_user_remove(ip, port, wrong.user_name), API_SNMP_OK);

    api_snmp_v3_user_config mixed = user_config(kPairs[7], "mixed", kAuthPass);
    mixed.priv_alg = API_SNMP_PRIV_AES128;  // the system's own privacy under standard authentication
    EXPECT_EQ(api_snmp_user_add(ip, port, &mixed), API_SNMP_ERR_INVALID_PARAM);
    mixed.auth_alg = API_SNMP_AUTH_SHA256;
    mixed.priv_alg = API_SNMP_PRIV_STD_AES128;
    EXPECT_EQ(api_snmp_user_add(ip, port, &mixed), API_SNMP_ERR_INVALID_PARAM);
}

} // namespace
