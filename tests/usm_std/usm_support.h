// Shared pieces of the standard-SNMPv3 interoperability tests: the authentication and privacy pairs
// tested against net-snmp, and the options that name a pair to the standard tools and to our
// programs.
#ifndef VEK_TESTS_USM_STD_USM_SUPPORT_H
#define VEK_TESTS_USM_STD_USM_SUPPORT_H

#include <string>
#include <vector>

namespace usm_test {

inline const std::string kAuthPass = "authpass123";
inline const std::string kPrivPass = "privpass123";
inline const std::string kWrongPass = "wrongpass99";

/* One user's algorithms, spelled as the standard tools spell them; priv empty: authNoPriv. */
struct usm_pair {
    std::string auth;
    std::string priv;
};

/* Each authentication at authNoPriv, then each privacy with SHA-256 and with one other
 * authentication (chosen so that short keys are extended both ways and long digests are cut). */
inline const std::vector<usm_pair> kPairs = {
    {"MD5", ""},           {"SHA", ""},           {"SHA-224", ""},         {"SHA-256", ""},
    {"SHA-384", ""},       {"SHA-512", ""},       {"SHA-256", "DES"},      {"SHA-256", "AES"},
    {"SHA-256", "AES-192"}, {"SHA-256", "AES-256"}, {"SHA-256", "AES-192-C"}, {"SHA-256", "AES-256-C"},
    {"SHA-384", "DES"},    {"SHA-512", "AES"},    {"SHA-224", "AES-192"},  {"MD5", "AES-256"},
    {"SHA", "AES-192-C"},  {"MD5", "AES-256-C"},
};

inline std::string level_of(const usm_pair &p) { return p.priv.empty() ? "authNoPriv" : "authPriv"; }

inline std::string label(const usm_pair &p) { return p.auth + (p.priv.empty() ? "" : "+" + p.priv); }

/* -l -u -a -A [-x -X] of a pair, for the standard tools and for veksnmpnms (with -s std). */
inline std::vector<std::string> security_args(const usm_pair &p, const std::string &user,
                                              const std::string &auth_pass = kAuthPass) {
    std::vector<std::string> args = {"-l", level_of(p), "-u", user, "-a", p.auth, "-A", auth_pass};
    if (!p.priv.empty()) {
        args.insert(args.end(), {"-x", p.priv, "-X", kPrivPass});
    }
    return args;
}

/* The same as a veksnmpagent user (-u -a -A [-x -X]). */
inline std::vector<std::string> agent_user_args(const usm_pair &p, const std::string &user) {
    std::vector<std::string> args = {"-u", user, "-a", p.auth, "-A", kAuthPass};
    if (!p.priv.empty()) {
        args.insert(args.end(), {"-x", p.priv, "-X", kPrivPass});
    }
    return args;
}

/* The same as an snmpd/snmptrapd createUser line (with -e engine when given). */
inline std::string create_user_line(const usm_pair &p, const std::string &user, const std::string &engine = {}) {
    std::string line = "createUser " + (engine.empty() ? "" : "-e " + engine + " ") + user + " " + p.auth + " " +
                       kAuthPass;
    if (!p.priv.empty()) {
        line += " " + p.priv + " " + kPrivPass;
    }
    return line + "\n";
}

inline std::string user_name(size_t index) {
    std::string name = std::to_string(index);
    name.insert(name.begin(), 'u');
    return name;
}

inline std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace usm_test

#endif
