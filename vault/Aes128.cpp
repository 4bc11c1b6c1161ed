#include "vault/Aes128.h"

#include <immintrin.h>

#include <atomic>
#include <cstring>

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
void SubstituteAndShift(unsigned char* state, bool inverse) {
    const unsigned char* table = inverse ? kSubstitution.inverse : kSubstitution.forward;
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
        SubstituteAndShift(state, false);
        MixColumns(state, false);
        AddRoundKey(state, keys[round]);
    }
    SubstituteAndShift(state, false);
    AddRoundKey(state, keys[kRounds]);
}

void DecryptBlockBytewise(const unsigned char (*keys)[16], unsigned char* state) {
    AddRoundKey(state, keys[kRounds]);
    for (int round = kRounds - 1; round > 0; --round) {
        SubstituteAndShift(state, true);
        AddRoundKey(state, keys[round]);
        MixColumns(state, true);
    }
    SubstituteAndShift(state, true);
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

// One step of the key expansion with the processor's instructions, which take the same time
// whatever the key (the byte-wise expansion looks the S-box up with key bytes); assist is
// aeskeygenassist of the previous round key with the round constant.
__attribute__((target("aes,sse4.1"))) __m128i ExpandStep(__m128i key, __m128i assist) {
    assist = _mm_shuffle_epi32(assist, 0xff);
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    return _mm_xor_si128(key, assist);
}

__attribute__((target("aes,sse4.1"))) void ExpandKeyWithInstructions(const unsigned char* key,
                                                                     unsigned char (*keys)[16]) {
    auto* out = reinterpret_cast<__m128i*>(keys);
    out[0] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
    // The round constant must be an immediate operand.
#define FERROCASK_EXPAND(i, rcon) \
    out[i] = ExpandStep(out[(i)-1], _mm_aeskeygenassist_si128(out[(i)-1], rcon))
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

// One round of either direction; the last round has no (inverse) MixColumns.
template <bool kEncrypt, bool kLast = false>
__attribute__((target("aes,sse4.1"))) inline __m128i Round(__m128i block, __m128i key) {
    if constexpr (kEncrypt) {
        return kLast ? _mm_aesenclast_si128(block, key) : _mm_aesenc_si128(block, key);
    } else {
        return kLast ? _mm_aesdeclast_si128(block, key) : _mm_aesdec_si128(block, key);
    }
}

// Eight blocks at a time keep the processor's AES unit busy; the rest one by one. Each round
// key is read from the schedule as its round comes: held in registers beside eight blocks,
// some of them would be spilled to the stack, which is neither locked nor wiped.
template <bool kEncrypt>
__attribute__((target("aes,sse4.1"))) void ProcessBlocks(const unsigned char (*roundKeys)[16],
                                                         const unsigned char* in,
                                                         unsigned char* out, std::size_t blocks) {
    const auto* keys = reinterpret_cast<const __m128i*>(roundKeys);
    const auto* src = reinterpret_cast<const __m128i*>(in);
    auto* dst = reinterpret_cast<__m128i*>(out);
    std::size_t i = 0;
    // Eight named blocks, not an array: the compiler keeps them in registers, where an array
    // would live on the stack with the blocks' plain text.
#define FERROCASK_EACH_BLOCK(step) \
    step(b0, 0);                   \
    step(b1, 1);                   \
    step(b2, 2);                   \
    step(b3, 3);                   \
    step(b4, 4);                   \
    step(b5, 5);                   \
    step(b6, 6);                   \
    step(b7, 7)
#define FERROCASK_LOAD(b, j) __m128i b = _mm_xor_si128(_mm_loadu_si128(src + i + (j)), key)
#define FERROCASK_ROUND(b, j) b = Round<kEncrypt>(b, key)
#define FERROCASK_STORE(b, j) _mm_storeu_si128(dst + i + (j), Round<kEncrypt, true>(b, key))
    for (; i + 8 <= blocks; i += 8) {
        __m128i key = _mm_load_si128(keys);
        FERROCASK_EACH_BLOCK(FERROCASK_LOAD);
        for (int round = 1; round < kRounds; ++round) {
            key = _mm_load_si128(keys + round);
            FERROCASK_EACH_BLOCK(FERROCASK_ROUND);
        }
        key = _mm_load_si128(keys + kRounds);
        FERROCASK_EACH_BLOCK(FERROCASK_STORE);
    }
#undef FERROCASK_STORE
#undef FERROCASK_ROUND
#undef FERROCASK_LOAD
#undef FERROCASK_EACH_BLOCK
    for (; i < blocks; ++i) {
        __m128i b = _mm_xor_si128(_mm_loadu_si128(src + i), _mm_load_si128(keys));
        for (int round = 1; round < kRounds; ++round) {
            b = Round<kEncrypt>(b, _mm_load_si128(keys + round));
        }
        _mm_storeu_si128(dst + i, Round<kEncrypt, true>(b, _mm_load_si128(keys + kRounds)));
    }
}

}  // namespace

Aes128::~Aes128() {
    Ombrix::SecureWipe(m_roundKeys, sizeof m_roundKeys);
}

void Aes128::SetKey(const unsigned char* key, Direction direction) {
    const bool encrypt = direction == Direction::kEncrypt;
    if (!ProcessorInstructionsInUse()) {
        ExpandKey(key, m_roundKeys);
        m_process =
            encrypt ? BlockByBlock<EncryptBlockBytewise> : BlockByBlock<DecryptBlockBytewise>;
        return;
    }
    ExpandKeyWithInstructions(key, m_roundKeys);
    if (encrypt) {
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
