#include "tests/agent_e2e/agent_e2e_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <sstream>

#include "codec/snmp_ber.h"
#include "codec/snmp_types.h"

namespace agent_e2e {

namespace {

constexpr std::chrono::milliseconds k_start_timeout{5000};
constexpr std::string_view k_public = "public";
constexpr int32_t k_probe_request_id = 4242;
constexpr std::array<uint32_t, 9> k_sys_descr_ids = {1, 3, 6, 1, 2, 1, 1, 1, 0};

/* Closes the descriptor when the scope ends. */
struct fd_guard {
    int fd;
    ~fd_guard() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

std::vector<uint8_t> encode_sys_descr_get() {
    auto msg = std::make_unique<snmp_message>();
    msg->version = SNMP_VERSION_2C;
    std::memcpy(msg->usm.username, k_public.data(), k_public.size());
    msg->usm.user_len = static_cast<uint8_t>(k_public.size());
    msg->pdu.op = SNMP_OP_GET;
    msg->pdu.request_id = k_probe_request_id;
    snmp_varbind &vb = msg->pdu.varbinds[0];
    std::copy(k_sys_descr_ids.begin(), k_sys_descr_ids.end(), vb.oid.sub_ids);
    vb.oid.len = static_cast<uint8_t>(k_sys_descr_ids.size());
    vb.type = SNMP_TAG_NULL;
    msg->pdu.varbind_count = 1;
    std::vector<uint8_t> out(SNMP_MAX_MSG_SIZE);
    uint16_t len = 0;
    if (snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), nullptr, msg.get(), &len) !=
        SNMP_OK) {
        return {};
    }
    out.resize(len);
    return out;
}

} // namespace

agent_under_test::agent_under_test(std::vector<std::string> args) {
    port_ = free_udp_port();
    args.insert(args.begin(), {"-p", std::to_string(port_)});
    process_ = std::make_unique<child_process>(k_agent, args);
    // The start-up text ends with the line about Ctrl+C.
    ready_ = process_->wait_for_output(listening_line(port_), k_start_timeout) &&
             process_->wait_for_output("Ctrl+C stops the agent.\n", k_start_timeout,
                                       process_->output().find(listening_line(port_)));
}

std::optional<int> agent_under_test::interrupt(std::chrono::milliseconds timeout) {
    process_->send_signal(SIGINT);
    return process_->wait_exit(timeout);
}

std::string listening_line(uint16_t port) { return "veksnmpagent listening on UDP port " + std::to_string(port) + "\n"; }

run_result run_cli(const std::vector<std::string> &args, std::chrono::milliseconds timeout) {
    return run_program(k_cli, args, "", timeout);
}

std::vector<std::string> cli_values(const std::string &out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    const std::string marker = "] OID：";
    for (std::string line; std::getline(in, line);) {
        const size_t pos = line.find(marker);
        if (line.starts_with("  [") && pos != std::string::npos) {
            lines.push_back(line.substr(pos + marker.size()));
        }
    }
    return lines;
}

run_result run_merged(const std::string &path, const std::vector<std::string> &args,
                      std::chrono::milliseconds timeout) {
    std::vector<std::string> shell_args = {"-c", "exec \"$0\" \"$@\" 2>&1", path};
    shell_args.insert(shell_args.end(), args.begin(), args.end());
    return run_program("/bin/sh", shell_args, "", timeout);
}

std::optional<std::string> raw_get_sys_descr(const std::string &source_ip, uint16_t port,
                                             std::chrono::milliseconds timeout) {
    const fd_guard sock{socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    sockaddr_in local{};
    local.sin_family = AF_INET;
    sockaddr_in agent{};
    agent.sin_family = AF_INET;
    agent.sin_port = htons(port);
    if (sock.fd < 0 || inet_pton(AF_INET, source_ip.c_str(), &local.sin_addr) != 1 ||
        inet_pton(AF_INET, "127.0.0.1", &agent.sin_addr) != 1 ||
        bind(sock.fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        return std::nullopt;
    }
    const std::vector<uint8_t> request = encode_sys_descr_get();
    if (request.empty() || sendto(sock.fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&agent),
                                  sizeof agent) != static_cast<ssize_t>(request.size())) {
        return std::nullopt;
    }
    pollfd entry{sock.fd, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> buf{};
    const ssize_t n = recv(sock.fd, buf.data(), buf.size(), 0);
    auto msg = std::make_unique<snmp_message>();
    uint16_t consumed = 0;
    if (n <= 0 || snmp_ber_decode_snmp_message(buf.data(), static_cast<uint16_t>(n), msg.get(), &consumed) != SNMP_OK ||
        msg->pdu.op != SNMP_OP_GET_RESPONSE || msg->pdu.request_id != k_probe_request_id ||
        msg->pdu.varbind_count != 1) {
        return std::string("<unexpected answer>");
    }
    const snmp_varbind &vb = msg->pdu.varbinds[0];
    return std::string(reinterpret_cast<const char *>(vb.value.octets), vb.value_len);
}

} // namespace agent_e2e
