// AES-128-CBC, AES-128-CFB and 3DES-CBC over a 512-byte message: our primitives next to OpenSSL's
// EVP.
//
// Our CBC functions take the key on every call and expand it each time, so the OpenSSL runs set the
// key on every iteration as well ("Rekeyed"); the "KeyedOnce" runs only reset the IV and show the
// cost of the key set-up. Logging stays at WARN, so no trace or progress line is written.
#include <array>
#include <cstdint>
#include <memory>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include "base/agent_log.h"
#include "crypto/aes_vek.h"
#include "crypto/des_vek.h"

namespace {

constexpr size_t kMessageBytes = 512;
constexpr size_t kMaxKeyBytes = VEK_DES3_KEY_SIZE;
constexpr size_t kMaxIvBytes = VEK_AES_BLOCK_SIZE;

struct Inputs {
    std::array<uint8_t, kMaxKeyBytes> key{};
    std::array<uint8_t, kMaxIvBytes> iv{};
    std::array<uint8_t, kMessageBytes> plain{};
    std::array<uint8_t, kMessageBytes> out{};

    Inputs() {
        for (size_t i = 0; i < key.size(); ++i) {
            key[i] = static_cast<uint8_t>(i * 7 + 1);
        }
        for (size_t i = 0; i < iv.size(); ++i) {
            iv[i] = static_cast<uint8_t>(i * 13 + 5);
        }
        for (size_t i = 0; i < plain.size(); ++i) {
            plain[i] = static_cast<uint8_t>(i);
        }
    }
};

void quiet_logs() {
    g_log_config.level = AGENT_LOG_WARN;
}

using CbcFunction = void (*)(const uint8_t *, const uint8_t *, const uint8_t *, uint8_t *, uint32_t);

void run_ours(benchmark::State &state, CbcFunction cbc) {
    quiet_logs();
    Inputs in;
    for (auto _ : state) {
        cbc(in.key.data(), in.iv.data(), in.plain.data(), in.out.data(), kMessageBytes);
        benchmark::DoNotOptimize(in.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kMessageBytes));
}

struct CtxDeleter {
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

void run_openssl(benchmark::State &state, const EVP_CIPHER *cipher, int encrypt, bool rekey) {
    Inputs in;
    std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, in.key.data(), in.iv.data(), encrypt) != 1) {
        state.SkipWithError("EVP_CipherInit_ex failed");
        return;
    }
    for (auto _ : state) {
        const uint8_t *key = rekey ? in.key.data() : nullptr;
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key, in.iv.data(), encrypt);
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
        int written = 0;
        int final_written = 0;
        EVP_CipherUpdate(ctx.get(), in.out.data(), &written, in.plain.data(),
                         static_cast<int>(kMessageBytes));
        EVP_CipherFinal_ex(ctx.get(), in.out.data() + written, &final_written);
        benchmark::DoNotOptimize(in.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kMessageBytes));
}

// ---- AES-128-CBC ----

void BM_Aes128CbcEncrypt_Vek(benchmark::State &state) {
    vek_aes_set_hw_accel(1);
    run_ours(state, vek_aes128_cbc_encrypt);
}

void BM_Aes128CbcEncrypt_VekPortable(benchmark::State &state) {
    vek_aes_set_hw_accel(0);
    run_ours(state, vek_aes128_cbc_encrypt);
    vek_aes_set_hw_accel(1);
}

void BM_Aes128CbcEncrypt_OpenSSL_Rekeyed(benchmark::State &state) {
    run_openssl(state, EVP_aes_128_cbc(), 1, true);
}

void BM_Aes128CbcEncrypt_OpenSSL_KeyedOnce(benchmark::State &state) {
    run_openssl(state, EVP_aes_128_cbc(), 1, false);
}

void BM_Aes128CbcDecrypt_Vek(benchmark::State &state) {
    vek_aes_set_hw_accel(1);
    run_ours(state, vek_aes128_cbc_decrypt);
}

void BM_Aes128CbcDecrypt_VekPortable(benchmark::State &state) {
    vek_aes_set_hw_accel(0);
    run_ours(state, vek_aes128_cbc_decrypt);
    vek_aes_set_hw_accel(1);
}

void BM_Aes128CbcDecrypt_OpenSSL_Rekeyed(benchmark::State &state) {
    run_openssl(state, EVP_aes_128_cbc(), 0, true);
}

// ---- AES-128-CFB (the standard USM privacy) ----

using CfbFunction = void (*)(const uint8_t *, uint32_t, const uint8_t *, const uint8_t *, uint8_t *,
                             uint32_t);

void run_ours_cfb(benchmark::State &state, CfbFunction cfb) {
    quiet_logs();
    Inputs in;
    for (auto _ : state) {
        cfb(in.key.data(), VEK_AES128_KEY_SIZE, in.iv.data(), in.plain.data(), in.out.data(), kMessageBytes);
        benchmark::DoNotOptimize(in.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kMessageBytes));
}

void BM_Aes128CfbEncrypt_Vek(benchmark::State &state) {
    vek_aes_set_hw_accel(1);
    run_ours_cfb(state, vek_aes_cfb128_encrypt);
}

void BM_Aes128CfbEncrypt_OpenSSL_Rekeyed(benchmark::State &state) {
    run_openssl(state, EVP_aes_128_cfb128(), 1, true);
}

void BM_Aes128CfbDecrypt_Vek(benchmark::State &state) {
    vek_aes_set_hw_accel(1);
    run_ours_cfb(state, vek_aes_cfb128_decrypt);
}

void BM_Aes128CfbDecrypt_OpenSSL_Rekeyed(benchmark::State &state) {
    run_openssl(state, EVP_aes_128_cfb128(), 0, true);
}

// ---- 3DES-CBC ----

void BM_Des3CbcEncrypt_Vek(benchmark::State &state) {
    run_ours(state, vek_des3_cbc_encrypt);
}

void BM_Des3CbcEncrypt_OpenSSL_Rekeyed(benchmark::State &state) {
    run_openssl(state, EVP_des_ede3_cbc(), 1, true);
}

void BM_Des3CbcEncrypt_OpenSSL_KeyedOnce(benchmark::State &state) {
    run_openssl(state, EVP_des_ede3_cbc(), 1, false);
}

void BM_Des3CbcDecrypt_Vek(benchmark::State &state) {
    run_ours(state, vek_des3_cbc_decrypt);
}

void BM_Des3CbcDecrypt_OpenSSL_Rekeyed(benchmark::State &state) {
    run_openssl(state, EVP_des_ede3_cbc(), 0, true);
}

}  // namespace

BENCHMARK(BM_Aes128CbcEncrypt_Vek);
BENCHMARK(BM_Aes128CbcEncrypt_VekPortable);
BENCHMARK(BM_Aes128CbcEncrypt_OpenSSL_Rekeyed);
BENCHMARK(BM_Aes128CbcEncrypt_OpenSSL_KeyedOnce);
BENCHMARK(BM_Aes128CbcDecrypt_Vek);
BENCHMARK(BM_Aes128CbcDecrypt_VekPortable);
BENCHMARK(BM_Aes128CbcDecrypt_OpenSSL_Rekeyed);
BENCHMARK(BM_Aes128CfbEncrypt_Vek);
BENCHMARK(BM_Aes128CfbEncrypt_OpenSSL_Rekeyed);
BENCHMARK(BM_Aes128CfbDecrypt_Vek);
BENCHMARK(BM_Aes128CfbDecrypt_OpenSSL_Rekeyed);
BENCHMARK(BM_Des3CbcEncrypt_Vek);
BENCHMARK(BM_Des3CbcEncrypt_OpenSSL_Rekeyed);
BENCHMARK(BM_Des3CbcEncrypt_OpenSSL_KeyedOnce);
BENCHMARK(BM_Des3CbcDecrypt_Vek);
BENCHMARK(BM_Des3CbcDecrypt_OpenSSL_Rekeyed);
