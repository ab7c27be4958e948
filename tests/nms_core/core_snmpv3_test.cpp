// SNMPv3 engine of the core against a test agent built from the v3 codec: discovery, the held
// command sent authenticated and encrypted, re-discovery after the time window, after a boots change
// and from the periodic check, authentication-failure reports disabling a user until its
// disabled-until time, and user management.
#include <gtest/gtest.h>

#include "codec/snmpv3_ber.h"
#include "codec/snmpv3_crypto.h"
#include "core_test_support.h"
#include "nms/core_snmpv3.h"

namespace core_test {
namespace {

constexpr char kUser[] = "alice";
constexpr char kAuthPass[] = "authpass123";
constexpr char kPrivPass[] = "privpass123";
constexpr char kRequestOid[] = "1.3.6.1.2.1.1.1.0";
constexpr char kAnswer[] = "v3 value";
constexpr char kOidUnknownEngineIds[] = "1.3.6.1.6.3.15.1.1.4.0";
constexpr char kOidUnknownUserNames[] = "1.3.6.1.6.3.15.1.1.3.0";
constexpr char kOidWrongDigests[] = "1.3.6.1.6.3.15.1.1.5.0";
constexpr char kOidNotInTimeWindows[] = "1.3.6.1.6.3.15.1.1.2.0";
constexpr char kOidUnknownPduHandlers[] = "1.3.6.1.6.3.11.2.1.3.0";  // a Report that is no USM error

// What the test agent saw of one received message.
struct Seen {
    bool discovery = false;
    uint8_t flags = 0;
    uint32_t msg_id = 0;
    uint32_t time = 0;
    int32_t security = SNMP_OK;
    uint32_t op = SNMP_OP_UNKNOWN;
    std::string first_oid;
};

// An SNMPv3 agent built from the codec: answers discovery with a report of its engine, and
// verifies and decrypts commands with keys derived from the password, its engine ID and boots the
// way the manager derives them.
class V3Agent {
   public:
    enum class Answer { kResponse, kSilent, kWrongDigestReport, kNewBootsReport, kUnsecuredNewBootsReport,
                        kTimeWindowReportOnce, kUnsecuredTimeWindowReport, kUnknownUserReport,
                        kUnknownEngineReportOnce };

    V3Agent() : responder_([this](const Datagram &d) { return handle(d); }) {}

    uint16_t port() const { return responder_.port(); }
    Responder &responder() { return responder_; }

    std::atomic<Answer> answer{Answer::kResponse};
    std::atomic<bool> answer_discovery{true};
    std::atomic<uint32_t> boots{5};
    std::atomic<uint32_t> time{kTime};  // the agent's engine time in what it sends
    static constexpr uint32_t kTime = 1000;
    static constexpr uint32_t kResyncTime = 5000;  // the clock a notInTimeWindows Report shows
    const Bytes engine_id{0x80, 0x00, 0x1F, 0x88, 0x04, 't', 'e', 's', 't'};

    std::vector<Seen> seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }

    bool wait_seen(size_t n) const {
        std::unique_lock lock(mutex_);
        return seen_cv_.wait_for(lock, kWait, [&] { return seen_.size() >= n; });
    }

    // A report carrying one USM statistic: unauthenticated (as a discovery report is, with the engine
    // in the USM parameters and no user) or authenticated as alice.
    Bytes report(uint32_t msg_id, const char *oid, uint32_t report_boots, bool authenticated,
                 uint32_t report_time = 0) const {
        report_time = report_time != 0 ? report_time : time.load();
        snmp_varbind vb = counter_varbind(oid, 1);
        if (authenticated) {
            return encode(SNMP_OP_REPORT, kUser, SNMP_V3_AUTH_SHA1, 0, auth_key(boots), {}, report_boots, msg_id, vb,
                          report_time);
        }
        auto msg = std::make_unique<snmp_message>();
        msg->version = SNMP_VERSION_3;
        msg->msg_id = msg_id;
        msg->msg_flags = 0;
        std::copy(engine_id.begin(), engine_id.end(), msg->usm.engine_id);
        msg->usm.engine_id_len = static_cast<uint16_t>(engine_id.size());
        msg->usm.engine_boots = report_boots;
        msg->usm.engine_time = report_time;
        std::copy(engine_id.begin(), engine_id.end(), msg->pdu.context_engine_id);
        msg->pdu.context_engine_id_len = static_cast<uint16_t>(engine_id.size());
        msg->pdu.op = SNMP_OP_REPORT;
        msg->pdu.varbinds[0] = vb;
        msg->pdu.varbind_count = 1;
        const snmp_v3_user no_user{};
        Bytes out(SNMP_MAX_MSG_SIZE);
        uint16_t len = 0;
        EXPECT_EQ(snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), &no_user, msg.get(), &len),
                  SNMP_OK);
        out.resize(len);
        return out;
    }

   private:
    Bytes auth_key(uint32_t for_boots) const {
        snmp_v3_usm usm = key_usm(for_boots);
        usm.auth_proto = SNMP_V3_AUTH_SHA1;
        Bytes key(snmpv3_get_key_length(SNMP_V3_AUTH_SHA1, 1));
        EXPECT_EQ(snmp_v3_generate_auth_key(&usm, reinterpret_cast<const uint8_t *>(kAuthPass), sizeof(kAuthPass) - 1,
                                            key.data(), static_cast<uint16_t>(key.size())),
                  1);
        return key;
    }

    Bytes priv_key(uint32_t for_boots) const {
        snmp_v3_usm usm = key_usm(for_boots);
        usm.priv_proto = SNMP_V3_PRIV_AES128;
        Bytes key(snmpv3_get_key_length(SNMP_V3_PRIV_AES128, 0));
        EXPECT_EQ(snmp_v3_generate_priv_key(&usm, reinterpret_cast<const uint8_t *>(kPrivPass), sizeof(kPrivPass) - 1,
                                            key.data(), static_cast<uint16_t>(key.size())),
                  1);
        return key;
    }

    snmp_v3_usm key_usm(uint32_t for_boots) const {
        snmp_v3_usm usm{};
        std::copy(engine_id.begin(), engine_id.end(), usm.engine_id);
        usm.engine_id_len = static_cast<uint16_t>(engine_id.size());
        usm.engine_boots = for_boots;
        return usm;
    }

    Bytes encode(uint32_t op, const char *user, uint8_t auth_proto, uint8_t priv_proto, const Bytes &auth,
                 const Bytes &priv, uint32_t msg_boots, uint32_t msg_id, const snmp_varbind &vb,
                 uint32_t msg_time = 0) const {
        msg_time = msg_time != 0 ? msg_time : time.load();
        Bytes out(SNMP_MAX_MSG_SIZE);
        uint16_t len = static_cast<uint16_t>(out.size());
        static const uint8_t kNoKey[1] = {0};
        const uint8_t *auth_ptr = auth.empty() ? kNoKey : auth.data();
        const uint8_t *priv_ptr = priv.empty() ? kNoKey : priv.data();
        EXPECT_EQ(snmp_v3_cmd_encode(op, user, auth_proto, priv_proto, auth_ptr, static_cast<uint16_t>(auth.size()),
                                     priv_ptr, static_cast<uint16_t>(priv.size()), engine_id.data(),
                                     static_cast<uint16_t>(engine_id.size()), msg_boots, msg_time, msg_id, 0, 0, &vb, 1,
                                     out.data(), &len),
                  SNMP_OK);
        out.resize(len);
        return out;
    }

    std::vector<Bytes> handle(const Datagram &d) {
        auto msg = decode(d.data);
        if (msg == nullptr) {
            return {};
        }
        Seen seen;
        seen.flags = msg->msg_flags;
        seen.msg_id = msg->msg_id;
        seen.time = msg->usm.engine_time;
        seen.discovery = msg->usm.engine_id_len == 0;
        uint32_t current_boots = boots;
        std::vector<Bytes> replies;
        if (seen.discovery) {
            if (answer_discovery) {
                replies.push_back(report(msg->msg_id, kOidUnknownEngineIds, current_boots, false));
            }
        } else {
            Bytes auth = auth_key(current_boots);
            Bytes priv = priv_key(current_boots);
            snmp_v3_user user{};
            user.enabled = 1;
            user.user_len = static_cast<uint8_t>(std::strlen(kUser));
            std::memcpy(user.username, kUser, user.user_len);
            user.auth_proto = SNMP_V3_AUTH_SHA1;
            user.priv_proto = SNMP_V3_PRIV_AES128;
            std::copy(auth.begin(), auth.end(), user.auth_key);
            user.auth_key_len = static_cast<uint16_t>(auth.size());
            std::copy(priv.begin(), priv.end(), user.priv_key);
            user.priv_key_len = static_cast<uint16_t>(priv.size());
            int context = 0;
            {
                // The codec remembers the last engine it verified in one process-wide record; the core
                // calls it only under its list lock, and this in-process agent does the same.
                vek::nms::MutexGuard guard(core_list_lock());
                seen.security = snmp_v3_process_security(d.data.data(), static_cast<uint16_t>(d.data.size()),
                                                         msg.get(), &context, &user);
            }
            seen.op = msg->pdu.op;
            if (msg->pdu.varbind_count > 0) {
                const snmp_oid &oid = msg->pdu.varbinds[0].oid;
                for (uint8_t i = 0; i < oid.len; ++i) {
                    seen.first_oid += i == 0 ? "" : ".";
                    seen.first_oid += std::to_string(oid.sub_ids[i]);
                }
            }
            if (seen.security == SNMP_OK) {
                switch (answer.load()) {
                    case Answer::kResponse:
                        replies.push_back(encode(SNMP_OP_GET_RESPONSE, kUser, SNMP_V3_AUTH_SHA1, SNMP_V3_PRIV_AES128,
                                                 auth, priv, current_boots, msg->msg_id,
                                                 string_varbind(kRequestOid, kAnswer)));
                        break;
                    case Answer::kWrongDigestReport:
                        replies.push_back(report(msg->msg_id, kOidWrongDigests, current_boots, true));
                        break;
                    case Answer::kNewBootsReport:
                        replies.push_back(report(msg->msg_id, kOidUnknownPduHandlers, current_boots + 1, true));
                        break;
                    case Answer::kUnsecuredNewBootsReport:
                        replies.push_back(report(msg->msg_id, kOidUnknownPduHandlers, current_boots + 1, false));
                        break;
                    case Answer::kTimeWindowReportOnce:
                        time = kResyncTime;
                        replies.push_back(report(msg->msg_id, kOidNotInTimeWindows, current_boots, true));
                        answer = Answer::kResponse;
                        break;
                    case Answer::kUnknownUserReport:
                        replies.push_back(report(msg->msg_id, kOidUnknownUserNames, current_boots, false));
                        break;
                    case Answer::kUnknownEngineReportOnce:
                        replies.push_back(report(msg->msg_id, kOidUnknownEngineIds, current_boots, false));
                        answer = Answer::kResponse;
                        break;
                    case Answer::kUnsecuredTimeWindowReport:
                        replies.push_back(
                            report(msg->msg_id, kOidNotInTimeWindows, current_boots, false, kResyncTime * 2));
                        break;
                    case Answer::kSilent:
                        break;
                }
            }
        }
        {
            std::lock_guard lock(mutex_);
            seen_.push_back(seen);
        }
        seen_cv_.notify_all();
        return replies;
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable seen_cv_;
    std::vector<Seen> seen_;
    Responder responder_;
};

api_snmp_err add_user(uint16_t port, const char *name, uint32_t auth = API_SNMP_AUTH_SHA1,
                      uint32_t priv = API_SNMP_PRIV_AES128) {
    api_snmp_v3_user_config user{};
    std::snprintf(user.user_name, sizeof user.user_name, "%s", name);
    user.auth_alg = auth;
    user.auth_password = kAuthPass;
    user.priv_alg = priv;
    user.priv_password = kPrivPass;
    return core_snmpv3_user_add(kLoopback, port, &user);
}

class V3Test : public CoreTest {
   protected:
    void SetUp() override {
        CoreTest::SetUp();
        ASSERT_EQ(create_agent(agent_.port(), API_SNMP_V3), API_SNMP_OK);
        ASSERT_EQ(add_user(agent_.port(), kUser), API_SNMP_OK);
    }

    // Sends a GET as alice and waits for its outcome.
    ResponseRecord get_and_wait(void *token = nullptr) {
        size_t before = recorder().responses().size();
        EXPECT_EQ(send_get(agent_.port(), token, kUser), API_SNMP_OK);
        EXPECT_TRUE(recorder().wait_responses(before + 1));
        auto responses = recorder().responses();
        return responses.size() > before ? responses[before] : ResponseRecord{};
    }

    size_t discoveries() const {
        auto seen = agent_.seen();
        return static_cast<size_t>(std::count_if(seen.begin(), seen.end(), [](const Seen &s) { return s.discovery; }));
    }

    V3Agent agent_;
};

TEST_F(V3Test, DiscoveryThenAuthenticatedEncryptedCommand) {
    int token = 0;
    ResponseRecord r = get_and_wait(&token);
    auto seen = agent_.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].discovery);
    EXPECT_FALSE(seen[1].discovery);
    EXPECT_EQ(seen[1].flags & (SNMP_V3_FLAG_AUTH | SNMP_V3_FLAG_PRIV), SNMP_V3_FLAG_AUTH | SNMP_V3_FLAG_PRIV);
    EXPECT_EQ(seen[1].security, SNMP_OK) << "the command verifies and decrypts with the agent's keys";
    EXPECT_EQ(seen[1].op, static_cast<uint32_t>(SNMP_OP_GET));
    EXPECT_EQ(seen[1].first_oid, kRequestOid);
    EXPECT_EQ(seen[1].msg_id, seen[0].msg_id + 1);

    EXPECT_EQ(r.response.error, static_cast<uint32_t>(API_SNMP_OK));
    EXPECT_EQ(r.response.request_id, seen[1].msg_id);
    EXPECT_EQ(r.user, kUser);
    EXPECT_EQ(r.cmd, API_SNMP_CMD_RESPONSE);
    EXPECT_EQ(r.user_data, &token);
    ASSERT_EQ(r.response.var_count, 1);
    EXPECT_EQ(std::string(r.response.varbinds[0].value.str, r.response.varbinds[0].value_len), kAnswer);
    with_agent(agent_.port(), [&](snmp_core_agent &a) {
        EXPECT_EQ(a.v3_engine.discovery_state, CORE_V3_DISCOVERED);
        EXPECT_EQ(Bytes(a.v3_engine.engine_id, a.v3_engine.engine_id + a.v3_engine.engine_id_len), agent_.engine_id);
        EXPECT_EQ(a.v3_engine.engine_boots, 5u);
        EXPECT_EQ(a.v3_engine.engine_time, V3Agent::kTime);
        EXPECT_EQ(a.pending, 0);
    });

    // Within the time window the next command goes out at once.
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
    EXPECT_EQ(discoveries(), 1u);

    // 151 seconds after the discovery the engine is discovered again first.
    with_agent(agent_.port(), [](snmp_core_agent &a) { a.v3_engine.last_sync_time -= CORE_V3_TIME_WINDOW_S + 1; });
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
    EXPECT_EQ(discoveries(), 2u);
    EXPECT_EQ(agent_.seen().size(), 5u);
}

TEST_F(V3Test, ReportWithNewBootsLeadsToRediscoveryAndNewKeys) {
    ASSERT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
    // Boots shown by a Report without authentication are not taken.
    agent_.answer = V3Agent::Answer::kUnsecuredNewBootsReport;
    EXPECT_EQ(get_and_wait().cmd, API_SNMP_CMD_REPORT);
    with_agent(agent_.port(), [](snmp_core_agent &a) { EXPECT_EQ(a.v3_engine.engine_boots, 5u); });

    agent_.answer = V3Agent::Answer::kNewBootsReport;
    ResponseRecord report = get_and_wait();
    EXPECT_EQ(report.cmd, API_SNMP_CMD_REPORT);
    EXPECT_EQ(report.response.error, static_cast<uint32_t>(API_SNMP_OK));
    EXPECT_EQ(report.response.var_count, 0);

    agent_.boots = 6;  // the agent restarted
    agent_.answer = V3Agent::Answer::kResponse;
    ResponseRecord r = get_and_wait();
    EXPECT_EQ(r.response.error, static_cast<uint32_t>(API_SNMP_OK));
    EXPECT_EQ(discoveries(), 2u);
    EXPECT_EQ(agent_.seen().back().security, SNMP_OK) << "keys were made again for the new boots";
    with_agent(agent_.port(), [](snmp_core_agent &a) {
        EXPECT_EQ(a.v3_engine.engine_boots, 6u);
        EXPECT_EQ(a.v3_engine.key_boots, 6u);
    });
}

TEST_F(V3Test, PeriodicCheckRediscoversIdleAgentsOnly) {
    ASSERT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
    with_agent(agent_.port(), [](snmp_core_agent &a) { a.v3_engine.last_sync_time -= CORE_V3_TIME_WINDOW_S + 10; });
    run_time_sync_check();
    ASSERT_TRUE(agent_.wait_seen(3));
    EXPECT_TRUE(agent_.seen()[2].discovery);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(recorder().responses().size(), 1u) << "a periodic discovery has no caller to report to";
    with_agent(agent_.port(), [](snmp_core_agent &a) {
        EXPECT_EQ(a.v3_engine.discovery_state, CORE_V3_DISCOVERED);
        EXPECT_GE(a.v3_engine.last_sync_time, platform_get_utc_seconds() - 1);
        EXPECT_EQ(a.pending, 0);
    });

    // An outstanding request is not disturbed by the check.
    agent_.answer = V3Agent::Answer::kSilent;
    int token = 0;
    ASSERT_EQ(send_get(agent_.port(), &token, kUser), API_SNMP_OK);
    ASSERT_TRUE(agent_.wait_seen(4));
    uint32_t outstanding = 0;
    with_agent(agent_.port(), [&](snmp_core_agent &a) {
        outstanding = a.pending_request_id;
        a.v3_engine.last_sync_time -= CORE_V3_TIME_WINDOW_S + 10;
    });
    run_time_sync_check();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(agent_.responder().count(), 4u);
    with_agent(agent_.port(), [&](snmp_core_agent &a) {
        EXPECT_EQ(a.pending, 1);
        EXPECT_EQ(a.pending_request_id, outstanding);
    });

    // A command arriving while a periodic discovery is in flight waits for it and then goes out.
    with_agent(agent_.port(), [](snmp_core_agent &a) {  // the silent request ends
        a.pending = 0;
        a.v3_pending_cmd = snmp_core_v3_pending_cmd{};
    });
    agent_.answer_discovery = false;
    run_time_sync_check();
    ASSERT_TRUE(agent_.wait_seen(5));
    Datagram discovery = agent_.responder().received()[4];
    ASSERT_TRUE(agent_.seen()[4].discovery);
    ASSERT_EQ(send_get(agent_.port(), &token, kUser), API_SNMP_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(agent_.responder().count(), 5u);
    agent_.answer = V3Agent::Answer::kResponse;
    agent_.responder().peer().send_to(discovery.from_port,
                                      agent_.report(agent_.seen()[4].msg_id, kOidUnknownEngineIds, 5, false));
    ASSERT_TRUE(recorder().wait_responses(2));
    EXPECT_EQ(recorder().responses()[1].user_data, &token);
    EXPECT_EQ(recorder().responses()[1].response.error, static_cast<uint32_t>(API_SNMP_OK));
}

TEST_F(V3Test, WrongDigestReportsDisableTheUserUntilItsTimeHasPassed) {
    ASSERT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
    agent_.answer = V3Agent::Answer::kWrongDigestReport;
    for (int i = 1; i <= 4; ++i) {
        ResponseRecord r = get_and_wait();
        EXPECT_EQ(r.response.error, static_cast<uint32_t>(API_SNMP_ERR_AUTH_FAILED)) << i;
        EXPECT_EQ(r.cmd, API_SNMP_CMD_REPORT);
        EXPECT_EQ(r.user, kUser);
    }
    with_agent(agent_.port(), [](snmp_core_agent &a) {
        EXPECT_EQ(a.users[0].auth_fail_count, 4);
        EXPECT_EQ(a.users[0].disabled, 0);
    });
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_ERR_AUTH_FAILED));
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("snmp_core_handle_v3_report: 用户alice鉴权失败超限（5次），临时禁用10分钟"), std::string::npos)
        << log;
    int64_t now = platform_get_utc_seconds();
    with_agent(agent_.port(), [&](snmp_core_agent &a) {
        EXPECT_EQ(a.users[0].disabled, 1);
        EXPECT_GE(a.users[0].disabled_until, now + CORE_V3_DISABLE_SECONDS - 1);
    });

    // While disabled, even a correct answer is refused.
    agent_.answer = V3Agent::Answer::kResponse;
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_ERR_AUTH_FAILED));

    // Once the disabled-until time has passed, the user works again with a fresh counter.
    with_agent(agent_.port(), [](snmp_core_agent &a) { a.users[0].disabled_until = platform_get_utc_seconds() - 1; });
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
    with_agent(agent_.port(), [](snmp_core_agent &a) {
        EXPECT_EQ(a.users[0].disabled, 0);
        EXPECT_EQ(a.users[0].auth_fail_count, 0);
    });
}

TEST_F(V3Test, SecurityErrorDuringDiscoveryReportsOnceAndAllowsANewDiscovery) {
    agent_.answer_discovery = false;
    int token = 0;
    ASSERT_EQ(send_get(agent_.port(), &token, kUser), API_SNMP_OK);
    ASSERT_TRUE(agent_.wait_seen(1));
    EXPECT_EQ(send_get(agent_.port(), nullptr, kUser), API_SNMP_ERR_IN_PROGRESS);
    Datagram discovery = agent_.responder().received()[0];
    Bytes report = agent_.report(agent_.seen()[0].msg_id, kOidWrongDigests, 5, false);
    agent_.responder().peer().send_to(discovery.from_port, report);
    agent_.responder().peer().send_to(discovery.from_port, report);
    ASSERT_TRUE(recorder().wait_responses(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(recorder().responses().size(), 1u);
    EXPECT_EQ(recorder().responses()[0].response.error, static_cast<uint32_t>(API_SNMP_ERR_AUTH_FAILED));
    EXPECT_EQ(recorder().responses()[0].user_data, &token);
    with_agent(agent_.port(), [](snmp_core_agent &a) {
        EXPECT_EQ(a.v3_engine.discovery_state, CORE_V3_NOT_DISCOVERED);
        EXPECT_EQ(a.pending, 0);
        EXPECT_EQ(a.v3_pending_cmd.cmd_type, 0u);
    });

    agent_.answer_discovery = true;
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
}

TEST_F(V3Test, CommandForUnknownUserStillReportsItsOutcome) {
    int token = 0;
    ASSERT_EQ(send_get(agent_.port(), &token, "mallory"), API_SNMP_OK);  // discovery goes out first
    ASSERT_TRUE(recorder().wait_responses(1));
    EXPECT_EQ(recorder().responses()[0].response.error, static_cast<uint32_t>(API_SNMP_ERR_USER_NOT_FOUND));
    EXPECT_EQ(recorder().responses()[0].user_data, &token);
    with_agent(agent_.port(), [](snmp_core_agent &a) {
        EXPECT_EQ(a.pending, 0);
        EXPECT_EQ(a.v3_engine.discovery_state, CORE_V3_NOT_DISCOVERED);
    });
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
    // Once discovered, the encoder refuses at once and nothing stays outstanding.
    EXPECT_EQ(send_get(agent_.port(), nullptr, "mallory"), API_SNMP_ERR_USER_NOT_FOUND);
    with_agent(agent_.port(), [](snmp_core_agent &a) { EXPECT_EQ(a.pending, 0); });
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
}

TEST_F(V3Test, AuthenticatedTimeWindowReportResyncsAndResendsOnce) {
    ASSERT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
    int token = 0;
    agent_.answer = V3Agent::Answer::kTimeWindowReportOnce;
    ResponseRecord r = get_and_wait(&token);
    EXPECT_EQ(r.response.error, static_cast<uint32_t>(API_SNMP_OK)) << "the request is answered, not failed";
    EXPECT_EQ(r.user_data, &token);
    const std::vector<Seen> seen = agent_.seen();
    ASSERT_EQ(seen.size(), 4u) << "one command, its Report, one resend";
    EXPECT_GE(seen[3].time, V3Agent::kResyncTime) << "the resend carries the Report's clock";
    EXPECT_EQ(discoveries(), 1u);

    // A Report that keeps saying so, or one without authentication, fails the request and moves no clock.
    agent_.answer = V3Agent::Answer::kUnsecuredTimeWindowReport;
    uint32_t time_before = 0;
    with_agent(agent_.port(), [&](snmp_core_agent &a) { time_before = a.v3_engine.engine_time; });
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_ERR_V3_TIME_EXPIRED));
    EXPECT_EQ(agent_.seen().size(), 5u) << "no resend on an unauthenticated Report";
    with_agent(agent_.port(), [&](snmp_core_agent &a) { EXPECT_EQ(a.v3_engine.engine_time, time_before); });
}

TEST_F(V3Test, ReportsAreReadByTheirUsmCounter) {
    ASSERT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
    agent_.answer = V3Agent::Answer::kUnknownUserReport;
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_ERR_USER_NOT_FOUND));
    // An engine that no longer knows the one we address (a restarted agent with a new engine ID) is
    // discovered again and the request goes out once more.
    agent_.answer = V3Agent::Answer::kUnknownEngineReportOnce;
    EXPECT_EQ(get_and_wait().response.error, static_cast<uint32_t>(API_SNMP_OK));
    EXPECT_EQ(discoveries(), 2u);
}

TEST_F(CoreTest, V3UsersFillAndReuseSlots) {
    ASSERT_EQ(create_agent(3161, API_SNMP_V3), API_SNMP_OK);
    ASSERT_EQ(create_agent(3162, API_SNMP_V2C), API_SNMP_OK);
    for (const char *name : {"u1", "u2", "u3", "u4"}) {
        ASSERT_EQ(add_user(3161, name), API_SNMP_OK) << name;
    }
    EXPECT_EQ(add_user(3161, "u2"), API_SNMP_ERR_USER_EXISTS);
    EXPECT_EQ(add_user(3161, "u5", API_SNMP_AUTH_MD5, API_SNMP_PRIV_NONE), API_SNMP_OK);
    EXPECT_EQ(add_user(3161, "u6"), API_SNMP_ERR_USER_COUNT_LIMIT);
    EXPECT_EQ(snmp_core_get_user_count(kLoopback, 3161), MAX_V3_USERS);

    EXPECT_EQ(core_snmpv3_user_remove(kLoopback, 3161, "u2"), API_SNMP_OK);
    EXPECT_EQ(core_snmpv3_user_remove(kLoopback, 3161, "u2"), API_SNMP_ERR_USER_NOT_FOUND);
    EXPECT_EQ(snmp_core_get_user_count(kLoopback, 3161), MAX_V3_USERS - 1);
    EXPECT_EQ(add_user(3161, "u6", API_SNMP_AUTH_SHA256, API_SNMP_PRIV_3DES), API_SNMP_OK);  // reuses the slot

    std::array<api_snmp_user_info, 8> users{};
    ASSERT_EQ(snmp_core_get_user_list(kLoopback, 3161, users.data(), static_cast<uint32_t>(users.size())), 5u);
    EXPECT_STREQ(users[0].user_name, "u1");
    EXPECT_STREQ(users[1].user_name, "u6");
    EXPECT_EQ(users[1].auth_alg, static_cast<uint32_t>(API_SNMP_AUTH_SHA256));
    EXPECT_EQ(users[1].priv_alg, static_cast<uint32_t>(API_SNMP_PRIV_3DES));
    EXPECT_STREQ(users[4].user_name, "u5");
    EXPECT_EQ(snmp_core_get_user_list(kLoopback, 3161, users.data(), 2), 2u);

    EXPECT_EQ(add_user(3162, "u1"), API_SNMP_ERR_INVALID_VERSION);
    EXPECT_EQ(add_user(3163, "u1"), API_SNMP_ERR_AGENT_NOT_FOUND);
    EXPECT_EQ(core_snmpv3_user_remove(kLoopback, 3162, "u1"), API_SNMP_ERR_INVALID_VERSION);
    EXPECT_EQ(snmp_core_get_user_count(kLoopback, 3162), 0u);
    EXPECT_EQ(snmp_core_get_user_list(kLoopback, 3162, users.data(), 8), 0u);
    api_snmp_v3_user_config empty{};
    EXPECT_EQ(core_snmpv3_user_add(kLoopback, 3161, &empty), API_SNMP_ERR_INVALID_PARAM);

    // Passwords are kept cut to 31 characters; a user added after discovery gets keys at once.
    EXPECT_EQ(core_snmpv3_user_remove(kLoopback, 3161, "u1"), API_SNMP_OK);
    with_agent(3161, [](snmp_core_agent &a) {
        a.v3_engine.discovery_state = CORE_V3_DISCOVERED;
        a.v3_engine.engine_boots = 3;
    });
    api_snmp_v3_user_config long_pass{};
    std::snprintf(long_pass.user_name, sizeof long_pass.user_name, "late");
    long_pass.auth_alg = API_SNMP_AUTH_SHA1;
    std::string pass(40, 'p');
    long_pass.auth_password = pass.c_str();
    ASSERT_EQ(core_snmpv3_user_add(kLoopback, 3161, &long_pass), API_SNMP_OK);
    with_agent(3161, [](snmp_core_agent &a) {
        snmp_core_v3_user *user = core_snmpv3_user_ex_find(&a, "late");
        ASSERT_NE(user, nullptr);
        EXPECT_EQ(std::strlen(user->auth_password), API_SNMP_V3_PASSWORD_SIZE - 1);
        EXPECT_EQ(user->auth_key_len, snmpv3_get_key_length(SNMP_V3_AUTH_SHA1, 1));
        EXPECT_EQ(user->priv_key_len, 0);
    });
    // Key generation failing (privacy without password) rolls the addition back.
    api_snmp_v3_user_config no_priv_pass{};
    std::snprintf(no_priv_pass.user_name, sizeof no_priv_pass.user_name, "broken");
    no_priv_pass.auth_alg = API_SNMP_AUTH_SHA1;
    no_priv_pass.auth_password = kAuthPass;
    no_priv_pass.priv_alg = API_SNMP_PRIV_AES128;
    EXPECT_EQ(core_snmpv3_user_remove(kLoopback, 3161, "u3"), API_SNMP_OK);
    EXPECT_EQ(core_snmpv3_user_add(kLoopback, 3161, &no_priv_pass), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(snmp_core_get_user_count(kLoopback, 3161), MAX_V3_USERS - 1);
    with_agent(3161, [](snmp_core_agent &a) { EXPECT_EQ(core_snmpv3_user_ex_find(&a, "broken"), nullptr); });
}

TEST(CoreSnmpv3Engine, DiscoveryInformationChecks) {
    snmp_core_v3_engine engine{};
    ASSERT_EQ(core_snmpv3_engine_init(&engine), 1);
    EXPECT_EQ(core_snmpv3_engine_init(nullptr), 0);
    auto msg = std::make_unique<adapter_msg>();
    msg->version = API_SNMP_V3;
    msg->engine_id_len = 0;
    EXPECT_EQ(core_snmpv3_handle_discover_response(&engine, msg.get()), API_SNMP_ERR_NO_ENGINE_ID);
    msg->engine_id_len = CORE_V3_ENGINE_ID_SIZE + 1;
    EXPECT_EQ(core_snmpv3_handle_discover_response(&engine, msg.get()), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(engine.discovery_state, CORE_V3_NOT_DISCOVERED);

    msg->engine_id_len = 5;
    std::memcpy(msg->engine_id, "\x80\x01\x02\x03\x04", 5);
    msg->engine_boots = 0;
    msg->engine_time = 77;
    testing::internal::CaptureStdout();
    EXPECT_EQ(core_snmpv3_handle_discover_response(&engine, msg.get()), API_SNMP_OK);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("引擎启动次数为0（可能是设备初始状态，按协议兼容）"), std::string::npos) << log;
    EXPECT_EQ(engine.discovery_state, CORE_V3_DISCOVERED);
    EXPECT_EQ(engine.engine_time, 77u);
    EXPECT_EQ(engine.engine_id_len, 5);

    msg->version = API_SNMP_V2C;
    EXPECT_EQ(core_snmpv3_handle_discover_response(&engine, msg.get()), API_SNMP_ERR_INVALID_PARAM);
}

}  // namespace
}  // namespace core_test
