// Cost of the vault operations on vaults of 10 to 100,000 entries. The reads are set
// against a floor measured in the same run: libcrypto's AES-128 decrypting the list's bytes
// plus one copy of them, what any read of the whole list must at least cost. Every change
// also re-encrypts and rewrites the list in a copy of the file and syncs it. The summary at
// the end shows each read next to its floor, and the cost per entry, of the read and of its
// floor, against that at 10,000 entries: a read that grows linearly grows as its floor does.
// The reads run twice: on a vault whose list was just written in one piece, and on one
// changed once more after that ("changed"), as the vaults in use are. A list that does not
// fit the database's cache is copied from the kernel's cached pages of the file on every
// read, and the two vaults leave those pages in different pieces: the first was partly read
// back from disk, the second copied in 64 KiB pieces.
// The vaults live in a scratch folder under $TMPDIR (or /tmp), removed at the end.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/DbCursor.h"
#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"
#include "vault/VaultStore.h"

namespace {

const std::string kPasswordA = "bench-pass-1";
const std::string kPasswordB = "bench-pass-2";

std::string& ScratchRoot() {
    static std::string root;
    return root;
}

// The purpose of vaults changed once more after their list was written.
const std::string kChanged = "changed";

std::string EntryName(int index) {
    return "entry-" + std::to_string(index);
}

void MakePicture(Ombrix::Data<unsigned char>& picture, int seed) {
    picture.m_nLength = 0;
    picture.Extend(kPictureBytes);
    for (int i = 0; i < kPictureBytes; ++i) {
        picture.m_pBuffer[i] = static_cast<unsigned char>(i * 13 + seed);
    }
}

// A vault of the given size under kPasswordA, made once per size and purpose; for the
// purpose kChanged the password of its first entry is changed once it is written.
const std::string& Vault(int entries, const std::string& purpose) {
    static std::map<std::string, std::string> made;
    const std::string id = purpose + "-" + std::to_string(entries);
    auto found = made.find(id);
    if (found != made.end()) {
        return found->second;
    }
    const std::string directory = ScratchRoot() + "/" + id + "/";
    std::filesystem::create_directories(directory);
    VaultStore store;
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 1);
    store.SetMasterPassword(picture, directory, kPasswordA, std::nullopt);
    // Written as one list: adding 10,000 entries one by one would take minutes.
    for (int i = 0; i < entries; ++i) {
        store.m_entries.push_back(MakePasswordEntry(EntryName(i), "password-" + std::to_string(i)));
    }
    store.SaveEntries(directory, kPasswordA, false);
    if (purpose == kChanged) {
        store.ModifyEntry(directory, kPasswordA, MakePasswordEntry(EntryName(0), "changed"));
    }
    return made.emplace(id, directory).first->second;
}

void ListEntries(benchmark::State& state, const std::string& purpose) {
    const std::string& directory = Vault(static_cast<int>(state.range(0)), purpose);
    VaultStore store;
    EntryList entries;
    for (auto _ : state) {
        store.ListEntries(entries, directory, kPasswordA);
    }
    if (entries.size() != static_cast<std::size_t>(state.range(0))) {
        state.SkipWithError("wrong number of entries listed");
    }
}

void GetEntry(benchmark::State& state, const std::string& purpose) {
    const int count = static_cast<int>(state.range(0));
    const std::string& directory = Vault(count, purpose);
    VaultStore store;
    PasswordEntry entry;
    const std::string last = EntryName(count - 1);  // the worst case: found at the end
    for (auto _ : state) {
        if (!store.GetEntry(directory, kPasswordA, last, entry)) {
            state.SkipWithError("entry not found");
        }
    }
}

void BM_ListEntries(benchmark::State& state) {
    ListEntries(state, "read");
}
void BM_ListEntriesAfterChange(benchmark::State& state) {
    ListEntries(state, kChanged);
}
void BM_GetEntry(benchmark::State& state) {
    GetEntry(state, "read");
}
void BM_GetEntryAfterChange(benchmark::State& state) {
    GetEntry(state, kChanged);
}

// The floor of a read of the whole list: libcrypto's AES-128-ECB (the processor's AES
// instructions, as fast as this machine decrypts) over the list's bytes into a second
// buffer, and one copy of them, as the database's read makes.
void BM_Floor(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0)) * kEntrySize;
    std::vector<unsigned char> stored(bytes), copy(bytes), plain(bytes + 16);
    for (std::size_t i = 0; i < bytes; ++i) {
        stored[i] = static_cast<unsigned char>(i * 131 + i / 977);
    }
    const unsigned char key[16] = {'b', 'e', 'n', 'c', 'h', '-', 'p', 'a',
                                   's', 's', '-', '1', 'b', 'e', 'n', 'c'};
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex(context, EVP_aes_128_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(context, 0);
    for (auto _ : state) {
        std::memcpy(copy.data(), stored.data(), bytes);
        int written = 0;
        EVP_DecryptUpdate(context, plain.data(), &written, copy.data(), static_cast<int>(bytes));
        benchmark::DoNotOptimize(plain.data());
    }
    EVP_CIPHER_CTX_free(context);
}

void BM_AddEntry(benchmark::State& state) {
    const std::string& directory = Vault(static_cast<int>(state.range(0)), "write");
    VaultStore store;
    const PasswordEntry added = MakePasswordEntry("added", "new password");
    for (auto _ : state) {
        store.AddEntry(directory, kPasswordA, added);
        state.PauseTiming();  // keep the vault's size steady
        store.DeleteEntry(directory, kPasswordA, added);
        state.ResumeTiming();
    }
}

void BM_ModifyEntry(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string& directory = Vault(count, "write");
    VaultStore store;
    const PasswordEntry changed = MakePasswordEntry(EntryName(count / 2), "changed");
    for (auto _ : state) {
        store.ModifyEntry(directory, kPasswordA, changed);
    }
}

void BM_ReadPicture(benchmark::State& state) {
    const std::string& directory = Vault(10, "read");
    VaultStore store;
    int width = 0, height = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.ReadPicture(directory, kPasswordA, &width, &height));
    }
}

// Without an old password only the picture is written; with one, the whole list is
// re-encrypted too. The passwords alternate so that the vault stays readable.
void BM_SetMasterPassword(benchmark::State& state) {
    const bool withOld = state.range(1) != 0;
    const std::string& directory =
        Vault(static_cast<int>(state.range(0)), withOld ? "change" : "first");
    VaultStore store;
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 2);
    bool forward = true;
    for (auto _ : state) {
        const std::string& next = forward ? kPasswordB : kPasswordA;
        const std::string& current = forward ? kPasswordA : kPasswordB;
        if (withOld) {
            store.SetMasterPassword(picture, directory, next, current);
            forward = !forward;
        } else {
            store.SetMasterPassword(picture, directory, kPasswordA, std::nullopt);
        }
    }
}

// The share of a write that is the sync alone: the encrypted list of a vault rewritten
// in place, with and without syncing the file afterwards.
void BM_RewriteList(benchmark::State& state) {
    const std::string& directory = Vault(static_cast<int>(state.range(0)), "sync");
    const bool sync = state.range(1) != 0;
    auto circuit = Ombrix::DeviceManager::Instance().GetCircuit(
        "/device/system/db", VaultFilePath(directory), 0, nullptr, nullptr);
    Db* db = dynamic_cast<Ombrix::DbCircuit&>(*circuit).GetDb();
    std::string value(static_cast<std::size_t>(state.range(0)) * kEntrySize, 'v');
    for (auto _ : state) {
        value[0] ^= 1;  // a real change each time
        {
            Ombrix::DbCursor cursor(db);
            cursor.Seek("pass", 4);
            cursor.PutCurrent(value.data(), static_cast<u_int32_t>(value.size()));
        }
        if (sync) {
            db->sync(0);
        }
    }
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The reads and their floor, five times each: the summary takes the medians.
void ReadSizes(benchmark::internal::Benchmark* b) {
    b->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
    b->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_Floor)->Apply(ReadSizes);
BENCHMARK(BM_ListEntries)->Apply(ReadSizes);
BENCHMARK(BM_GetEntry)->Apply(ReadSizes);
BENCHMARK(BM_ListEntriesAfterChange)->Apply(ReadSizes);
BENCHMARK(BM_GetEntryAfterChange)->Apply(ReadSizes);
BENCHMARK(BM_AddEntry)->Apply(Sizes);
BENCHMARK(BM_ModifyEntry)->Apply(Sizes);
BENCHMARK(BM_ReadPicture)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SetMasterPassword)
    ->ArgsProduct({{10, 1000, 10000}, {0, 1}})
    ->ArgNames({"entries", "old"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_RewriteList)
    ->ArgsProduct({{10000}, {0, 1}})
    ->ArgNames({"entries", "sync"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Keeps every result's real time (in milliseconds) by name, as it prints it.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // A benchmark run several times counts by its median.
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration ||
                (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")) {
                times[run.run_name.function_name + "/" + run.run_name.args] =
                    run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

// Each read next to the floor of its size, and the cost per entry against that at 10,000,
// for the read and for its floor: the floor's own figure shows how much of the growth is the
// machine's (a list that outgrows the processor's caches costs more per byte to touch at all).
void PrintSummary(const std::map<std::string, double>& times) {
    const auto time = [&times](const std::string& name, int entries) {
        const auto found = times.find(name + "/" + std::to_string(entries));
        return found == times.end() ? -1.0 : found->second;
    };
    // The cost per entry at entries against that at 10,000; negative when one is missing.
    const auto growth = [&time](const std::string& name, int entries) {
        const double at10k = time(name, 10000);
        const double figure = time(name, entries);
        return at10k > 0 && figure > 0 ? figure / entries / (at10k / 10000) : -1.0;
    };
    std::printf("\n%-24s %8s %10s %10s %7s %16s %16s\n", "read", "entries", "time ms", "floor ms",
                "ratio", "per entry, read", "per entry, floor");
    std::printf("%-24s %8s %10s %10s %7s %16s %16s\n", "", "", "", "", "", "(vs 10,000)",
                "(vs 10,000)");
    for (const char* name :
         {"BM_ListEntries", "BM_GetEntry", "BM_ListEntriesAfterChange", "BM_GetEntryAfterChange"}) {
        for (int entries : {1000, 10000, 100000}) {
            const double figure = time(name, entries);
            const double floor = time("BM_Floor", entries);
            if (figure < 0 || floor <= 0) {
                continue;
            }
            std::printf("%-24s %8d %10.3f %10.3f %7.2f ", name + 3, entries, figure, floor,
                        figure / floor);
            // Without the reads at 10,000 (a filtered run) there is nothing to set them against.
            for (const double perEntry : {growth(name, entries), growth("BM_Floor", entries)}) {
                if (perEntry > 0) {
                    std::printf("%16.2f ", perEntry);
                } else {
                    std::printf("%16s ", "-");
                }
            }
            std::printf("\n");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ferrocask-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return 1;
    }
    ScratchRoot() = pattern;
    Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                          std::make_unique<Ombrix::DbDevice>());

    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintSummary(reporter.times);

    Ombrix::DeviceManager::DestroyInstance();  // closes the vaults before they are removed
    std::error_code ignored;
    std::filesystem::remove_all(ScratchRoot(), ignored);
    return 0;
}
