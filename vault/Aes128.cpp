#include "vault/Aes128.h"

#include <immintrin.h>

#include <atomic>
#include <cstring>
#include <initializer_list>

#include "framework/SecureWipe.h"

namespace {

constexpr int kRounds = 10;

std::atomic<bool> g_processorAllowed{true};

// ---- The field GF(2^8) and the S-boxes, made by the compiler from their definition --------

// a * x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1, without a branch on the data.
constexpr unsigned char Double(unsigned char a) {
    return static_cast<unsigned char>((a << 1) ^ (0x1b & -(a >> 7)));
}

// a * b, b a constant of the cipher (the loop runs over b's bits, not over the data's).
constexpr unsigned char Multiply(unsigned char a, unsigned char b) {
    unsigned char product = 0;
    for (; b != 0; b >>= 1) {
        product ^= static_cast<unsigned char>(a & -(b & 1));
        a = Double(a);
    }
    return product;
}

constexpr unsigned char RotateLeft(unsigned char a, int n) {
    return static_cast<unsigned char>((a << n) | (a >> (8 - n)));
}

struct SubstitutionTables {
    unsigned char forward[256];
    unsigned char inverse[256];
};

// The S-box: the multiplicative inverse (a^254, zero for zero), then the affine map.
constexpr SubstitutionTables MakeSubstitutionTables() {
    SubstitutionTables tables{};
    for (int x = 0; x < 256; ++x) {
        unsigned char inverse = 1;
        unsigned char power = static_cast<unsigned char>(x);
        for (int exponent = 254; exponent != 0; exponent >>= 1) {
            if (exponent & 1) {
                inverse = Multiply(inverse, power);
            }
            power = Multiply(power, power);
        }
        if (x == 0) {
            inverse = 0;
        }
        const auto s =
            static_cast<unsigned char>(inverse ^ RotateLeft(inverse, 1) ^ RotateLeft(inverse, 2) ^
                                       RotateLeft(inverse, 3) ^ RotateLeft(inverse, 4) ^ 0x63);
        tables.forward[x] = s;
        tables.inverse[s] = static_cast<unsigned char>(x);
    }
    return tables;
}

constexpr SubstitutionTables kSubstitution = MakeSubstitutionTables();
static_assert(kSubstitution.forward[0x00] == 0x63 && kSubstitution.forward[0x53] == 0xed &&
              kSubstitution.inverse[0x63] == 0x00);

// ---- Key expansion (FIPS-197, 5.2) ---------------------------------------------------------

void ExpandKey(const unsigned char* key, unsigned char (*roundKeys)[16]) {
    std::memcpy(roundKeys[0], key, 16);
    unsigned char roundConstant = 1;
    for (int round = 1; round <= kRounds; ++round) {
        const unsigned char* previous = roundKeys[round - 1];
        unsigned char* next = roundKeys[round];
        // The last word of the previous round key, rotated, substituted, with the constant.
        unsigned char word[4] = {
            static_cast<unsigned char>(kSubstitution.forward[previous[13]] ^ roundConstant),
            kSubstitution.forward[previous[14]], kSubstitution.forward[previous[15]],
            kSubstitution.forward[previous[12]]};
        for (int i = 0; i < 16; ++i) {
            next[i] = static_cast<unsigned char>(previous[i] ^ word[i % 4]);
            word[i % 4] = next[i];
        }
        roundConstant = Double(roundConstant);
    }
}

// ---- Byte-wise rounds, for processors without AES instructions ----------------------------
// The state is the block as it lies: byte r + 4c is row r of column c.

void AddRoundKey(unsigned char* state, const unsigned char* roundKey) {
    for (int i = 0; i < 16; ++i) {
        state[i] ^= roundKey[i];
    }
}

// SubBytes then ShiftRows (row r moves r columns left), or their inverses.
void SubstituteAndShift(unsigned char* state, const unsigned char* table, bool inverse) {
    unsigned char shifted[16];
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            const int from = row + 4 * ((column + (inverse ? 4 - row : row)) % 4);
            shifted[row + 4 * column] = table[state[from]];
        }
    }
    std::memcpy(state, shifted, 16);
    Ombrix::SecureWipe(shifted, sizeof shifted);
}

// MixColumns with the coefficients (2 3 1 1), or its inverse with (14 11 13 9), rotated by row.
void MixColumns(unsigned char* state, bool inverse) {
    const unsigned char c[4] = {
        static_cast<unsigned char>(inverse ? 14 : 2), static_cast<unsigned char>(inverse ? 11 : 3),
        static_cast<unsigned char>(inverse ? 13 : 1), static_cast<unsigned char>(inverse ? 9 : 1)};
    for (int column = 0; column < 4; ++column) {
        unsigned char* a = state + 4 * column;
        unsigned char mixed[4];
        for (int row = 0; row < 4; ++row) {
            mixed[row] = static_cast<unsigned char>(
                Multiply(a[row], c[0]) ^ Multiply(a[(row + 1) % 4], c[1]) ^
                Multiply(a[(row + 2) % 4], c[2]) ^ Multiply(a[(row + 3) % 4], c[3]));
        }
        std::memcpy(a, mixed, 4);
        Ombrix::SecureWipe(mixed, sizeof mixed);
    }
}

void EncryptBlockBytewise(const unsigned char (*keys)[16], unsigned char* state) {
    AddRoundKey(state, keys[0]);
    for (int round = 1; round < kRounds; ++round) {
        SubstituteAndShift(state, kSubstitution.forward, false);
        MixColumns(state, false);
        AddRoundKey(state, keys[round]);
    }
    SubstituteAndShift(state, kSubstitution.forward, false);
    AddRoundKey(state, keys[kRounds]);
}

void DecryptBlockBytewise(const unsigned char (*keys)[16], unsigned char* state) {
    AddRoundKey(state, keys[kRounds]);
    for (int round = kRounds - 1; round > 0; --round) {
        SubstituteAndShift(state, kSubstitution.inverse, true);
        AddRoundKey(state, keys[round]);
        MixColumns(state, true);
    }
    SubstituteAndShift(state, kSubstitution.inverse, true);
    AddRoundKey(state, keys[0]);
}

// The byte-wise cipher over a run of blocks, each copied into a state that is wiped after.
template <void (*kTransform)(const unsigned char (*)[16], unsigned char*)>
void BlockByBlock(const unsigned char (*keys)[16], const unsigned char* in, unsigned char* out,
                  std::size_t blocks) {
    unsigned char state[16];
    for (std::size_t i = 0; i < blocks; ++i) {
        std::memcpy(state, in + 16 * i, 16);
        kTransform(keys, state);
        std::memcpy(out + 16 * i, state, 16);
    }
    Ombrix::SecureWipe(state, sizeof state);
}

// ---- The processor's AES instructions ------------------------------------------------------

bool ProcessorHasAes() {
    static const bool has = __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
    return has;
}

// The decryption round keys of the equivalent inverse cipher, in the order they are used.
__attribute__((target("aes,sse4.1"))) void InvertRoundKeys(unsigned char (*keys)[16]) {
    __m128i inverted[kRounds + 1];
    inverted[0] = _mm_load_si128(reinterpret_cast<const __m128i*>(keys[kRounds]));
    for (int i = 1; i < kRounds; ++i) {
        inverted[i] =
            _mm_aesimc_si128(_mm_load_si128(reinterpret_cast<const __m128i*>(keys[kRounds - i])));
    }
    inverted[kRounds] = _mm_load_si128(reinterpret_cast<const __m128i*>(keys[0]));
    std::memcpy(keys, inverted, sizeof inverted);
    Ombrix::SecureWipe(inverted, sizeof inverted);
}

template <bool kEncrypt>
__attribute__((target("aes,sse4.1"))) inline __m128i Round(__m128i block, __m128i key) {
    if constexpr (kEncrypt) {
        return _mm_aesenc_si128(block, key);
    } else {
        return _mm_aesdec_si128(block, key);
    }
}

template <bool kEncrypt>
__attribute__((target("aes,sse4.1"))) inline __m128i LastRound(__m128i block, __m128i key) {
    if constexpr (kEncrypt) {
        return _mm_aesenclast_si128(block, key);
    } else {
        return _mm_aesdeclast_si128(block, key);
    }
}

// Eight blocks at a time keep the processor's AES unit busy; the rest one by one. The round
// keys are held in registers for the whole call.
template <bool kEncrypt>
__attribute__((target("aes,sse4.1"))) void ProcessBlocks(const unsigned char (*roundKeys)[16],
                                                         const unsigned char* in,
                                                         unsigned char* out, std::size_t blocks) {
    const auto* keys = reinterpret_cast<const __m128i*>(roundKeys);
    const __m128i k0 = keys[0], k1 = keys[1], k2 = keys[2], k3 = keys[3], k4 = keys[4],
                  k5 = keys[5], k6 = keys[6], k7 = keys[7], k8 = keys[8], k9 = keys[9],
                  k10 = keys[10];
    const auto* src = reinterpret_cast<const __m128i*>(in);
    auto* dst = reinterpret_cast<__m128i*>(out);
    std::size_t i = 0;
#define FERROCASK_ROUND(k)       \
    b0 = Round<kEncrypt>(b0, k); \
    b1 = Round<kEncrypt>(b1, k); \
    b2 = Round<kEncrypt>(b2, k); \
    b3 = Round<kEncrypt>(b3, k); \
    b4 = Round<kEncrypt>(b4, k); \
    b5 = Round<kEncrypt>(b5, k); \
    b6 = Round<kEncrypt>(b6, k); \
    b7 = Round<kEncrypt>(b7, k)
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
        _mm_storeu_si128(dst + i, LastRound<kEncrypt>(b0, k10));
        _mm_storeu_si128(dst + i + 1, LastRound<kEncrypt>(b1, k10));
        _mm_storeu_si128(dst + i + 2, LastRound<kEncrypt>(b2, k10));
        _mm_storeu_si128(dst + i + 3, LastRound<kEncrypt>(b3, k10));
        _mm_storeu_si128(dst + i + 4, LastRound<kEncrypt>(b4, k10));
        _mm_storeu_si128(dst + i + 5, LastRound<kEncrypt>(b5, k10));
        _mm_storeu_si128(dst + i + 6, LastRound<kEncrypt>(b6, k10));
        _mm_storeu_si128(dst + i + 7, LastRound<kEncrypt>(b7, k10));
    }
#undef FERROCASK_ROUND
    for (; i < blocks; ++i) {
        __m128i b = _mm_xor_si128(_mm_loadu_si128(src + i), k0);
        for (const __m128i& k : {k1, k2, k3, k4, k5, k6, k7, k8, k9}) {
            b = Round<kEncrypt>(b, k);
        }
        _mm_storeu_si128(dst + i, LastRound<kEncrypt>(b, k10));
    }
}

}  // namespace

Aes128::~Aes128() {
    Ombrix::SecureWipe(m_roundKeys, sizeof m_roundKeys);
}

void Aes128::SetKey(const unsigned char* key, Direction direction) {
    const bool encrypt = direction == Direction::kEncrypt;
    ExpandKey(key, m_roundKeys);
    if (!ProcessorInstructionsInUse()) {
        m_process =
            encrypt ? BlockByBlock<EncryptBlockBytewise> : BlockByBlock<DecryptBlockBytewise>;
    } else if (encrypt) {
        m_process = ProcessBlocks<true>;
    } else {
        InvertRoundKeys(m_roundKeys);
        m_process = ProcessBlocks<false>;
    }
}

bool Aes128::ProcessorInstructionsInUse() {
    return ProcessorHasAes() && g_processorAllowed.load(std::memory_order_relaxed);
}

void Aes128::AllowProcessorInstructions(bool allowed) {
    g_processorAllowed.store(allowed, std::memory_order_relaxed);
}
