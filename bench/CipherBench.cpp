// Cost of the vault cipher on the two buffer sizes the program handles: one picture
// (49,152 bytes) and the entry list of 10,000 entries (1.92 MB).
#include <benchmark/benchmark.h>

#include <vector>

#include "vault/VaultCipher.h"

namespace {

void BM_EncryptVaultBuffer(benchmark::State& state) {
    std::vector<unsigned char> buffer(static_cast<size_t>(state.range(0)), 0x5A);
    for (auto _ : state) {
        EncryptVaultBuffer("benchmark1", buffer.data(), static_cast<int>(buffer.size()));
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EncryptVaultBuffer)->Arg(49152)->Arg(1920000);

void BM_DecryptVaultBuffer(benchmark::State& state) {
    std::vector<unsigned char> buffer(static_cast<size_t>(state.range(0)), 0x5A);
    for (auto _ : state) {
        DecryptVaultBuffer("benchmark1", buffer.data(), static_cast<int>(buffer.size()));
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DecryptVaultBuffer)->Arg(49152)->Arg(1920000);

void BM_DeriveVaultKey(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(DeriveVaultKey("abcd1234"));
    }
}
BENCHMARK(BM_DeriveVaultKey);

}  // namespace
