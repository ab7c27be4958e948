// Localized key derivation (the system's PBKDF2 keys and the standard USM keys) and HMAC throughput,
// side by side with OpenSSL's libcrypto.
//
// Each vek_* benchmark has an OpenSSL twin with the same digest, iterations and sizes; compare the
// pairs' times. The SHA back end in use (portable or SHA-NI) is printed as a counter.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/agent_log.h"
#include "crypto/crypto_vek.h"
#include "crypto/usm_key_vek.h"

namespace {

constexpr uint32_t kHmacMessageSize = 512;
constexpr uint32_t kEngineIdSize = 12;
constexpr uint32_t kPasswordSize = 20;  // a 10-character password widened to UTF-16LE
constexpr uint32_t kSaltSize = kEngineIdSize + 8;

struct Inputs {
    std::array<uint8_t, kPasswordSize> password{};
    std::array<uint8_t, kEngineIdSize> engine_id{};
    std::array<uint8_t, kSaltSize> salt{};  // engine ID || boots || time, as the derivation builds it
    std::vector<uint8_t> message = std::vector<uint8_t>(kHmacMessageSize);
    std::array<uint8_t, 20> hmac_key{};

    Inputs() {
        for (uint32_t i = 0; i < kPasswordSize; i += 2) {
            password[i] = static_cast<uint8_t>('a' + i / 2);
        }
        for (uint32_t i = 0; i < kEngineIdSize; ++i) {
            engine_id[i] = static_cast<uint8_t>(0x80 + i);
            salt[i] = engine_id[i];
        }
        for (uint32_t i = 0; i < kHmacMessageSize; ++i) {
            message[i] = static_cast<uint8_t>(i * 7);
        }
        hmac_key.fill(0x0B);
    }
};

const Inputs &inputs() {
    static const Inputs in;
    return in;
}

void quiet_logs() { agent_log_set_level(AGENT_LOG_WARN); }

void add_backend_counter(benchmark::State &state) {
    state.counters["sha_ni"] = vek_sha256_get_backend() == VEK_SHA_BACKEND_SHA_NI ? 1 : 0;
}

const EVP_MD *md_for(int32_t alg) {
    switch (alg) {
        case VEK_ALG_MD5: return EVP_md5();
        case VEK_ALG_SHA1: return EVP_sha1();
        case VEK_ALG_SHA512:
            return EVP_sha512();
        default: return EVP_sha256();
    }
}

// ---- Authentication keys: args = auth_proto, key length, digest, iterations ----

void BM_VekAuthKey(benchmark::State &state) {
    quiet_logs();
    const auto &in = inputs();
    const auto proto = static_cast<int32_t>(state.range(0));
    const auto len = static_cast<uint32_t>(state.range(1));
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> key{};
    for (auto _ : state) {
        const int32_t rc = vek_generate_auth_key(in.password.data(), kPasswordSize, in.engine_id.data(),
                                                 kEngineIdSize, 0, 0, proto, key.data(), len);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(key.data());
    }
    add_backend_counter(state);
}

void BM_VekPrivKey(benchmark::State &state) {
    quiet_logs();
    const auto &in = inputs();
    const auto proto = static_cast<int32_t>(state.range(0));
    const auto len = static_cast<uint32_t>(state.range(1));
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> key{};
    for (auto _ : state) {
        const int32_t rc = vek_generate_priv_key(in.password.data(), kPasswordSize, in.engine_id.data(),
                                                 kEngineIdSize, 0, 0, proto, key.data(), len);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(key.data());
    }
    add_backend_counter(state);
}

// args = key length, vek digest id, iterations
void BM_OpenSslPbkdf2(benchmark::State &state) {
    const auto &in = inputs();
    const auto len = static_cast<int>(state.range(0));
    const EVP_MD *md = md_for(static_cast<int32_t>(state.range(1)));
    const auto iterations = static_cast<int>(state.range(2));
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> key{};
    for (auto _ : state) {
        const int rc = PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(in.password.data()), kPasswordSize,
                                         in.salt.data(), kSaltSize, iterations, md, len, key.data());
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(key.data());
    }
}

// auth_proto 1 MD5/1000, 2 SHA-1/1000, 3 and 4 SHA-256/2048.
BENCHMARK(BM_VekAuthKey)->ArgNames({"proto", "len"})->Args({1, 16})->Args({2, 20})->Args({3, 32})->Args({4, 32});
// priv_proto 1 DES (MD5), 2 AES-128 (SHA-1), 3 AES-192 (SHA-256), 4 AES-256 (SHA-256), 5 3DES (MD5).
BENCHMARK(BM_VekPrivKey)
    ->ArgNames({"proto", "len"})
    ->Args({1, 8})
    ->Args({2, 16})
    ->Args({3, 24})
    ->Args({4, 32})
    ->Args({5, 24});
BENCHMARK(BM_OpenSslPbkdf2)
    ->ArgNames({"len", "digest", "iter"})
    ->Args({16, VEK_ALG_MD5, 1000})      // auth 1
    ->Args({20, VEK_ALG_SHA1, 1000})     // auth 2
    ->Args({32, VEK_ALG_SHA256, 2048})   // auth 3, 4; priv 4
    ->Args({8, VEK_ALG_MD5, 1000})       // priv 1
    ->Args({16, VEK_ALG_SHA1, 1000})     // priv 2
    ->Args({24, VEK_ALG_SHA256, 2048})   // priv 3
    ->Args({24, VEK_ALG_MD5, 1000});     // priv 5

// ---- Standard USM keys: password to key plus localisation; arg = vek digest id ----

constexpr uint32_t kUsmPasswordSize = 11;  // "authpass123", as typed (no widening in the standard scheme)

struct UsmInputs {
    std::array<uint8_t, kUsmPasswordSize> password{'a', 'u', 't', 'h', 'p', 'a', 's', 's', '1', '2', '3'};
    std::vector<uint8_t> expansion = std::vector<uint8_t>(VEK_USM_KEY_EXPANSION_SIZE);

    UsmInputs() {
        for (size_t i = 0; i < expansion.size(); ++i) {
            expansion[i] = password[i % kUsmPasswordSize];
        }
    }
};

const UsmInputs &usm_inputs() {
    static const UsmInputs in;
    return in;
}

void BM_VekUsmKey(benchmark::State &state) {
    const auto &in = inputs();
    const auto &usm = usm_inputs();
    const auto alg = static_cast<int32_t>(state.range(0));
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> ku{};
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> kul{};
    uint32_t ku_len = 0;
    uint32_t kul_len = 0;
    for (auto _ : state) {
        int32_t rc = vek_usm_password_to_key(alg, usm.password.data(), kUsmPasswordSize, ku.data(), &ku_len);
        rc |= vek_usm_localize_key(alg, ku.data(), ku_len, in.engine_id.data(), kEngineIdSize, kul.data(),
                                   &kul_len);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(kul.data());
    }
    add_backend_counter(state);
}

// The plain OpenSSL way: one EVP digest over the 1 MB expansion, then the localisation digest. The
// expansion is built once outside the timed loop, so the reference times the hashing alone.
void BM_OpenSslUsmKey(benchmark::State &state) {
    const auto &in = inputs();
    const auto &usm = usm_inputs();
    const EVP_MD *md = md_for(static_cast<int32_t>(state.range(0)));
    std::array<uint8_t, EVP_MAX_MD_SIZE> ku{};
    std::array<uint8_t, 2 * EVP_MAX_MD_SIZE + kEngineIdSize> localize_input{};
    std::array<uint8_t, EVP_MAX_MD_SIZE> kul{};
    for (auto _ : state) {
        unsigned ku_len = 0;
        unsigned kul_len = 0;
        int rc = EVP_Digest(usm.expansion.data(), usm.expansion.size(), ku.data(), &ku_len, md, nullptr);
        std::memcpy(localize_input.data(), ku.data(), ku_len);
        std::memcpy(localize_input.data() + ku_len, in.engine_id.data(), kEngineIdSize);
        std::memcpy(localize_input.data() + ku_len + kEngineIdSize, ku.data(), ku_len);
        rc &=
            EVP_Digest(localize_input.data(), 2 * ku_len + kEngineIdSize, kul.data(), &kul_len, md, nullptr);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(kul.data());
    }
}

BENCHMARK(BM_VekUsmKey)->ArgName("digest")->Arg(VEK_ALG_SHA1)->Arg(VEK_ALG_SHA256)->Arg(VEK_ALG_SHA512);
BENCHMARK(BM_OpenSslUsmKey)->ArgName("digest")->Arg(VEK_ALG_SHA1)->Arg(VEK_ALG_SHA256)->Arg(VEK_ALG_SHA512);

// ---- HMAC over 512 bytes: arg = vek digest id ----

void BM_VekHmac512(benchmark::State &state) {
    quiet_logs();
    const auto &in = inputs();
    const auto alg = static_cast<int32_t>(state.range(0));
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> mac{};
    uint32_t mac_len = 0;
    for (auto _ : state) {
        const int32_t rc = vek_hmac(alg, in.hmac_key.data(), static_cast<uint32_t>(in.hmac_key.size()),
                                    in.message.data(), kHmacMessageSize, mac.data(), &mac_len);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(mac.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kHmacMessageSize);
    add_backend_counter(state);
}

void BM_OpenSslHmac512(benchmark::State &state) {
    const auto &in = inputs();
    const EVP_MD *md = md_for(static_cast<int32_t>(state.range(0)));
    std::array<uint8_t, EVP_MAX_MD_SIZE> mac{};
    unsigned mac_len = 0;
    for (auto _ : state) {
        const uint8_t *rc = HMAC(md, in.hmac_key.data(), static_cast<int>(in.hmac_key.size()), in.message.data(),
                                 kHmacMessageSize, mac.data(), &mac_len);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(mac.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kHmacMessageSize);
}

BENCHMARK(BM_VekHmac512)->ArgName("digest")->Arg(VEK_ALG_SHA1)->Arg(VEK_ALG_SHA256);
BENCHMARK(BM_OpenSslHmac512)->ArgName("digest")->Arg(VEK_ALG_SHA1)->Arg(VEK_ALG_SHA256);

// The portable SHA back end, for comparison with the default (SHA-NI where available).
void BM_VekAuthKeyPortable(benchmark::State &state) {
    const int saved1 = vek_sha1_get_backend();
    const int saved256 = vek_sha256_get_backend();
    vek_sha1_set_backend(VEK_SHA_BACKEND_PORTABLE);
    vek_sha256_set_backend(VEK_SHA_BACKEND_PORTABLE);
    BM_VekAuthKey(state);
    vek_sha1_set_backend(saved1);
    vek_sha256_set_backend(saved256);
}
BENCHMARK(BM_VekAuthKeyPortable)->ArgNames({"proto", "len"})->Args({2, 20})->Args({3, 32});

}  // namespace
