// Shared pieces of the crypto modules' self-tests: hexadecimal vectors turned into bytes at compile
// time, and a tally that logs each check and the summary at INFO.
#ifndef VEK_CRYPTO_SELF_TEST_VEK_H
#define VEK_CRYPTO_SELF_TEST_VEK_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace vek::self_test {

constexpr uint8_t kHexLetterBase = 10;
constexpr uint8_t kNibbleBits = 4;
constexpr uint8_t kNibbleMask = 0x0F;
constexpr char kLowerCaseBit = 0x20;

// The bytes of a hexadecimal literal ("00ff..."), checked at compile time.
template <size_t N>
consteval std::array<uint8_t, (N - 1) / 2> hex(const char (&text)[N]) {
    auto nibble = [](char c) -> uint8_t {
        return static_cast<uint8_t>(c <= '9' ? c - '0' : (c | kLowerCaseBit) - 'a' + kHexLetterBase);
    };
    std::array<uint8_t, (N - 1) / 2> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>((nibble(text[2 * i]) << kNibbleBits) | nibble(text[2 * i + 1]));
    }
    return bytes;
}

inline bool same(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

// Whether bytes spell exactly the lower-case hexadecimal text.
bool matches_hex(std::span<const uint8_t> bytes, std::string_view text);

// A test message: literal text, or `count` copies of one byte (for inputs too long to spell out).
struct Input {
    std::string_view text;
    uint8_t fill;
    uint32_t count;
};

constexpr Input text_input(std::string_view text) {
    return {text, 0, 0};
}
constexpr Input fill_input(uint8_t fill, uint32_t count) {
    return {{}, fill, count};
}

constexpr uint32_t kFeedChunk = 128;

// Hands the input to update(data, len) piece by piece.
template <class Update>
void feed(const Input &input, Update update) {
    if (input.count == 0) {
        if (!input.text.empty()) {
            update(reinterpret_cast<const uint8_t *>(input.text.data()),
                   static_cast<uint32_t>(input.text.size()));
        }
        return;
    }
    std::array<uint8_t, kFeedChunk> chunk;
    chunk.fill(input.fill);
    for (uint32_t left = input.count; left != 0;) {
        const uint32_t n = left < chunk.size() ? left : static_cast<uint32_t>(chunk.size());
        update(chunk.data(), n);
        left -= n;
    }
}

// Copies an input into area, which must be large enough; returns its length.
inline uint32_t materialise(const Input &input, std::span<uint8_t> area) {
    uint32_t len = 0;
    feed(input, [&](const uint8_t *data, uint32_t n) {
        std::memcpy(area.data() + len, data, n);
        len += n;
    });
    return len;
}

// Logs "<label>测试<n> [<name>]: 通过|失败" per check and the summary lines at the end.
class Tally {
   public:
    Tally(const char *label, const char *heading);
    bool check(bool passed, const char *name);
    // The same, naming the check "<qualifier> <name>".
    bool check(bool passed, const char *qualifier, const char *name);
    // Logs the summary; returns the number of failed checks.
    int finish() const;

   private:
    const char *label_;
    int total_ = 0;
    int failed_ = 0;
};

// A digest test: the message and the expected digest.
struct DigestCase {
    const char *name;
    Input message;
    std::string_view digest_hex;
};

// The incremental steps of one digest and its output length.
template <class Ctx>
struct DigestSteps {
    void (*init)(Ctx *ctx);
    void (*update)(Ctx *ctx, const uint8_t *data, uint32_t len);
    void (*final)(Ctx *ctx, uint8_t *digest);
    uint32_t size;
};

constexpr uint32_t kMaxDigestBytes = 64;

// Hashes every case's message and checks the digest, one tally line per case.
template <class Ctx, size_t N>
void check_digests(Tally &tally, const DigestSteps<Ctx> &steps, const std::array<DigestCase, N> &cases) {
    for (const auto &c : cases) {
        Ctx ctx;
        steps.init(&ctx);
        feed(c.message, [&](const uint8_t *data, uint32_t len) { steps.update(&ctx, data, len); });
        std::array<uint8_t, kMaxDigestBytes> digest{};
        steps.final(&ctx, digest.data());
        tally.check(matches_hex(std::span(digest).first(steps.size), c.digest_hex), c.name);
    }
}

}  // namespace vek::self_test

#endif
