#include "vault/VaultDecryptor.h"

#include <immintrin.h>

#include <atomic>
#include <cstring>

#include <cryptopp/rijndael.h>

#include "framework/SecureWipe.h"
#include "vault/VaultCipher.h"

namespace {

constexpr int kRounds = 10;

std::atomic<bool> g_processorAllowed{true};

bool HasAesInstructions() {
    static const bool has = __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
    return has && g_processorAllowed.load(std::memory_order_relaxed);
}

// One step of the AES-128 key expansion; assist is aeskeygenassist of the previous round
// key with the round constant.
__attribute__((target("aes,sse4.1"))) __m128i ExpandStep(__m128i key, __m128i assist) {
    assist = _mm_shuffle_epi32(assist, 0xff);
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    return _mm_xor_si128(key, assist);
}

// The decryption round keys (the equivalent inverse cipher's) of a 16-byte key.
__attribute__((target("aes,sse4.1"))) void ExpandDecryptionKeys(const unsigned char* key,
                                                                __m128i* out) {
    __m128i enc[kRounds + 1];
    enc[0] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
#define FERROCASK_EXPAND(i, rcon) \
    enc[i] = ExpandStep(enc[(i)-1], _mm_aeskeygenassist_si128(enc[(i)-1], rcon))
    FERROCASK_EXPAND(1, 0x01);
    FERROCASK_EXPAND(2, 0x02);
    FERROCASK_EXPAND(3, 0x04);
    FERROCASK_EXPAND(4, 0x08);
    FERROCASK_EXPAND(5, 0x10);
    FERROCASK_EXPAND(6, 0x20);
    FERROCASK_EXPAND(7, 0x40);
    FERROCASK_EXPAND(8, 0x80);
    FERROCASK_EXPAND(9, 0x1b);
    FERROCASK_EXPAND(10, 0x36);
#undef FERROCASK_EXPAND
    out[0] = enc[kRounds];
    for (int i = 1; i < kRounds; ++i) {
        out[i] = _mm_aesimc_si128(enc[kRounds - i]);
    }
    out[kRounds] = enc[0];
    Ombrix::SecureWipe(enc, sizeof enc);
}

// Eight blocks at a time keep the processor's AES unit busy; the rest one by one. The round
// keys are held in registers for the whole call.
__attribute__((target("aes,sse4.1"))) void DecryptBlocks(const __m128i* keys,
                                                         const unsigned char* in,
                                                         unsigned char* out, std::size_t blocks) {
    const __m128i k0 = keys[0], k1 = keys[1], k2 = keys[2], k3 = keys[3], k4 = keys[4],
                  k5 = keys[5], k6 = keys[6], k7 = keys[7], k8 = keys[8], k9 = keys[9],
                  k10 = keys[10];
    const auto* src = reinterpret_cast<const __m128i*>(in);
    auto* dst = reinterpret_cast<__m128i*>(out);
    std::size_t i = 0;
#define FERROCASK_ROUND(k)        \
    b0 = _mm_aesdec_si128(b0, k); \
    b1 = _mm_aesdec_si128(b1, k); \
    b2 = _mm_aesdec_si128(b2, k); \
    b3 = _mm_aesdec_si128(b3, k); \
    b4 = _mm_aesdec_si128(b4, k); \
    b5 = _mm_aesdec_si128(b5, k); \
    b6 = _mm_aesdec_si128(b6, k); \
    b7 = _mm_aesdec_si128(b7, k)
    for (; i + 8 <= blocks; i += 8) {
        __m128i b0 = _mm_xor_si128(_mm_loadu_si128(src + i), k0);
        __m128i b1 = _mm_xor_si128(_mm_loadu_si128(src + i + 1), k0);
        __m128i b2 = _mm_xor_si128(_mm_loadu_si128(src + i + 2), k0);
        __m128i b3 = _mm_xor_si128(_mm_loadu_si128(src + i + 3), k0);
        __m128i b4 = _mm_xor_si128(_mm_loadu_si128(src + i + 4), k0);
        __m128i b5 = _mm_xor_si128(_mm_loadu_si128(src + i + 5), k0);
        __m128i b6 = _mm_xor_si128(_mm_loadu_si128(src + i + 6), k0);
        __m128i b7 = _mm_xor_si128(_mm_loadu_si128(src + i + 7), k0);
        FERROCASK_ROUND(k1);
        FERROCASK_ROUND(k2);
        FERROCASK_ROUND(k3);
        FERROCASK_ROUND(k4);
        FERROCASK_ROUND(k5);
        FERROCASK_ROUND(k6);
        FERROCASK_ROUND(k7);
        FERROCASK_ROUND(k8);
        FERROCASK_ROUND(k9);
        _mm_storeu_si128(dst + i, _mm_aesdeclast_si128(b0, k10));
        _mm_storeu_si128(dst + i + 1, _mm_aesdeclast_si128(b1, k10));
        _mm_storeu_si128(dst + i + 2, _mm_aesdeclast_si128(b2, k10));
        _mm_storeu_si128(dst + i + 3, _mm_aesdeclast_si128(b3, k10));
        _mm_storeu_si128(dst + i + 4, _mm_aesdeclast_si128(b4, k10));
        _mm_storeu_si128(dst + i + 5, _mm_aesdeclast_si128(b5, k10));
        _mm_storeu_si128(dst + i + 6, _mm_aesdeclast_si128(b6, k10));
        _mm_storeu_si128(dst + i + 7, _mm_aesdeclast_si128(b7, k10));
    }
#undef FERROCASK_ROUND
    for (; i < blocks; ++i) {
        __m128i b = _mm_xor_si128(_mm_loadu_si128(src + i), k0);
        for (const __m128i& k : {k1, k2, k3, k4, k5, k6, k7, k8, k9}) {
            b = _mm_aesdec_si128(b, k);
        }
        _mm_storeu_si128(dst + i, _mm_aesdeclast_si128(b, k10));
    }
}

}  // namespace

// The key too lives here while the round keys are made: one locked block for both, so that
// a decryptor locks and unlocks memory once.
struct VaultDecryptor::Schedule {
    VaultKey key;
    __m128i roundKeys[kRounds + 1];
    CryptoPP::Rijndael::Decryption fallback;  // keyed only without AES instructions

    ~Schedule() { Ombrix::SecureWipe(roundKeys, sizeof roundKeys); }
};

VaultDecryptor::VaultDecryptor(std::string_view masterPassword)
    : VaultDecryptor(masterPassword, kVaultKeyOffset) {}

VaultDecryptor::VaultDecryptor(std::string_view masterPassword, unsigned char keyOffset)
    : m_processor(HasAesInstructions()) {
    VaultKey& key = m_schedule->key;
    DeriveVaultKeyInto(masterPassword, key, keyOffset);  // throws for a short password
    if (m_processor) {
        ExpandDecryptionKeys(key.data(), m_schedule->roundKeys);
    } else {
        m_schedule->fallback.SetKey(key.data(), key.size());
    }
    Ombrix::SecureWipe(key.data(), key.size());
}

VaultDecryptor::~VaultDecryptor() = default;

bool VaultDecryptor::UsesProcessorInstructions() {
    return HasAesInstructions();
}

void VaultDecryptor::AllowProcessorInstructions(bool allowed) {
    g_processorAllowed.store(allowed, std::memory_order_relaxed);
}

void VaultDecryptor::Decrypt(const unsigned char* in, unsigned char* out,
                             std::size_t length) const {
    const std::size_t blocks = length / kVaultBlockSize;
    if (blocks == 0) {
        return;
    }
    if (m_processor) {
        DecryptBlocks(m_schedule->roundKeys, in, out, blocks);
    } else {
        m_schedule->fallback.AdvancedProcessBlocks(in, nullptr, out, blocks * kVaultBlockSize, 0);
    }
}
