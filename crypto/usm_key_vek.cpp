// Keys of the standard User-based Security Model: password to key and localisation (RFC 3414 A.2)
// over any digest of the facade, the two key extensions, and their self-test.
#include "crypto/usm_key_vek.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

#include "crypto/self_test_vek.h"

namespace {

using Bytes = std::span<const uint8_t>;

// The repeated password goes to the digest in pieces of whole password copies of about this size,
// so that nearly every block is compressed straight from the piece, and each piece starts at the
// password's first byte.
constexpr uint32_t kExpansionPiece = 4096;

void wipe(void *p, size_t n) {
    auto *bytes = static_cast<volatile uint8_t *>(p);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = 0;
    }
}

// One digest computation over a facade context that is wiped at the end; the id is checked by the
// callers, so no step can fail.
class HashRun {
   public:
    explicit HashRun(int32_t alg) { vek_hash_init(&ctx_, alg); }
    HashRun(const HashRun &) = delete;
    HashRun &operator=(const HashRun &) = delete;
    ~HashRun() { wipe(&ctx_, sizeof ctx_); }

    void add(Bytes data) {
        if (!data.empty()) {
            vek_hash_update(&ctx_, data.data(), static_cast<uint32_t>(data.size()));
        }
    }
    // Writes the digest to out; returns its length.
    uint32_t finish(uint8_t *out) {
        uint32_t len = 0;
        vek_hash_final(&ctx_, out, &len);
        return len;
    }

   private:
    vek_hash_ctx ctx_{};
};

// Ku: the digest of the password repeated to VEK_USM_KEY_EXPANSION_SIZE bytes.
uint32_t password_to_key(int32_t alg, Bytes password, uint8_t *ku) {
    std::array<uint8_t, kExpansionPiece> copies;
    Bytes piece = password;
    if (password.size() <= copies.size()) {
        const size_t count = copies.size() / password.size();
        for (size_t i = 0; i < count; ++i) {
            std::memcpy(copies.data() + i * password.size(), password.data(), password.size());
        }
        piece = Bytes(copies.data(), count * password.size());
    }
    HashRun run(alg);
    size_t left = VEK_USM_KEY_EXPANSION_SIZE;
    for (; left >= piece.size(); left -= piece.size()) {
        run.add(piece);
    }
    run.add(piece.first(left));
    if (piece.data() == copies.data()) {
        wipe(copies.data(), piece.size());
    }
    return run.finish(ku);
}

// Kul = H(Ku || engineID || Ku); kul may be ku itself (the digest is written after all reading).
uint32_t localize(int32_t alg, Bytes ku, Bytes engine_id, uint8_t *kul) {
    HashRun run(alg);
    run.add(ku);
    run.add(engine_id);
    run.add(ku);
    return run.finish(kul);
}

bool engine_id_valid(const uint8_t *engine_id, uint32_t engine_id_len) {
    return engine_id != nullptr && engine_id_len >= VEK_USM_MIN_ENGINE_ID_LEN &&
           engine_id_len <= VEK_USM_MAX_ENGINE_ID_LEN;
}

// Checks shared by the key extensions. Returns VEK_OK or the result code to give.
int32_t check_extension(int32_t alg, const uint8_t *kul, uint32_t kul_len, const uint8_t *out,
                        uint32_t want) {
    if (kul == nullptr || out == nullptr || want == 0 || want > VEK_USM_MAX_EXTENDED_KEY_SIZE) {
        return VEK_ERR_INVALID_PARAM;
    }
    const int32_t size = vek_hash_digest_size(alg);
    if (size == 0) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    return kul_len == static_cast<uint32_t>(size) ? VEK_OK : VEK_ERR_KEY_LENGTH;
}

// Room for the longest extension plus the piece that overshoots it.
using ExtendedKey = std::array<uint8_t, VEK_USM_MAX_EXTENDED_KEY_SIZE + VEK_MAX_DIGEST_SIZE>;

// Kul followed by further pieces until `want` bytes are there: next(key so far, where the next piece
// goes) writes one piece and returns its length. out receives the first `want` bytes.
template <class NextPiece>
int32_t extend(int32_t alg, const uint8_t *kul, uint32_t kul_len, uint8_t *out, uint32_t want,
               NextPiece next) {
    const int32_t rc = check_extension(alg, kul, kul_len, out, want);
    if (rc != VEK_OK) {
        return rc;
    }
    ExtendedKey key{};
    std::memcpy(key.data(), kul, kul_len);
    for (uint32_t len = kul_len; len < want;) {
        len += next(Bytes(key.data(), len), key.data() + len);
    }
    std::memcpy(out, key.data(), want);
    wipe(key.data(), key.size());
    return VEK_OK;
}

// ---- Self-test ----

struct KeyCase {
    const char *ku_name;
    const char *kul_name;
    int32_t alg;
    std::string_view ku_hex;
    std::string_view kul_hex;
};

constexpr std::string_view kRfc3414Password = "maplesyrup";
constexpr auto kRfc3414EngineId = vek::self_test::hex("000000000000000000000002");

constexpr std::array<KeyCase, 2> kRfc3414Cases = {{
    {"RFC 3414 A.3.1 MD5 Ku", "RFC 3414 A.3.1 MD5 Kul", VEK_ALG_MD5, "9faf3283884e92834ebc9847d8edd963",
     "526f5eed9fcce26f8964c2930787d82b"},
    {"RFC 3414 A.3.2 SHA Ku", "RFC 3414 A.3.2 SHA Kul", VEK_ALG_SHA1,
     "9fb5cc0381497b3793528939ff788d5d79145211", "6695febc9288e36282235fc7151f128497b38f3f"},
}};

}  // namespace

extern "C" {

int32_t vek_usm_password_to_key(int32_t hash_alg, const uint8_t *password, uint32_t password_len, uint8_t *ku,
                                uint32_t *ku_len) {
    if (password == nullptr || password_len == 0 || ku == nullptr || ku_len == nullptr) {
        return VEK_ERR_INVALID_PARAM;
    }
    if (vek_hash_digest_size(hash_alg) == 0) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    *ku_len = password_to_key(hash_alg, Bytes(password, password_len), ku);
    return VEK_OK;
}

int32_t vek_usm_localize_key(int32_t hash_alg, const uint8_t *ku, uint32_t ku_len, const uint8_t *engine_id,
                             uint32_t engine_id_len, uint8_t *kul, uint32_t *kul_len) {
    if (ku == nullptr || kul == nullptr || kul_len == nullptr || !engine_id_valid(engine_id, engine_id_len)) {
        return VEK_ERR_INVALID_PARAM;
    }
    const int32_t size = vek_hash_digest_size(hash_alg);
    if (size == 0) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    if (ku_len != static_cast<uint32_t>(size)) {
        return VEK_ERR_KEY_LENGTH;
    }
    *kul_len = localize(hash_alg, Bytes(ku, ku_len), Bytes(engine_id, engine_id_len), kul);
    return VEK_OK;
}

int32_t vek_usm_extend_key_hash(int32_t hash_alg, const uint8_t *kul, uint32_t kul_len, uint8_t *out,
                                uint32_t want) {
    return extend(hash_alg, kul, kul_len, out, want, [hash_alg](Bytes so_far, uint8_t *piece) {
        HashRun run(hash_alg);
        run.add(so_far);
        return run.finish(piece);
    });
}

int32_t vek_usm_extend_key_p2k(int32_t hash_alg, const uint8_t *kul, uint32_t kul_len,
                               const uint8_t *engine_id, uint32_t engine_id_len, uint8_t *out,
                               uint32_t want) {
    if (!engine_id_valid(engine_id, engine_id_len)) {
        return VEK_ERR_INVALID_PARAM;
    }
    const Bytes engine(engine_id, engine_id_len);
    return extend(hash_alg, kul, kul_len, out, want,
                  [hash_alg, kul_len, engine](Bytes so_far, uint8_t *piece) {
                      password_to_key(hash_alg, so_far.last(kul_len), piece);
                      return localize(hash_alg, Bytes(piece, kul_len), engine, piece);
                  });
}

int test_usm_key_standard_cases(void) {
    vek::self_test::Tally tally("USM", "USM口令到密钥标准测试（RFC 3414 附录A.3）");
    const Bytes password(reinterpret_cast<const uint8_t *>(kRfc3414Password.data()), kRfc3414Password.size());
    for (const auto &c : kRfc3414Cases) {
        std::array<uint8_t, VEK_MAX_DIGEST_SIZE> ku{};
        std::array<uint8_t, VEK_MAX_DIGEST_SIZE> kul{};
        uint32_t ku_len = 0;
        uint32_t kul_len = 0;
        const bool ku_ok =
            vek_usm_password_to_key(c.alg, password.data(), static_cast<uint32_t>(password.size()), ku.data(),
                                    &ku_len) == VEK_OK &&
            vek::self_test::matches_hex(std::span(ku).first(ku_len), c.ku_hex);
        const bool kul_ok = vek_usm_localize_key(c.alg, ku.data(), ku_len, kRfc3414EngineId.data(),
                                                 static_cast<uint32_t>(kRfc3414EngineId.size()), kul.data(),
                                                 &kul_len) == VEK_OK &&
                            vek::self_test::matches_hex(std::span(kul).first(kul_len), c.kul_hex);
        tally.check(ku_ok, c.ku_name);
        tally.check(kul_ok, c.kul_name);
        wipe(ku.data(), ku.size());
        wipe(kul.data(), kul.size());
    }
    return tally.finish();
}

}  // extern "C"
