// The real program as a user meets it, on the X server of DISPLAY (`make bench` starts Xvfb
// when there is none): the time from starting the executable until its first panel, the
// soft keyboard asking for the master password, is drawn; and the program's resident memory
// once it has opened a vault of 1,000 entries. The program runs from a scratch program
// folder with the update check switched off.
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <string>

#include "resources/DialogTemplates.h"
#include "support/ProgramRun.h"
#include "support/ProgramWindow.h"
#include "support/TestVault.h"
#include "vault/PasswordEntry.h"

namespace {

const std::string kMaster = "qwe12345";

// A vault of entries entries in a program folder with the program beside it.
void PrepareFolder(testsupport::TestVault& vault, int entries) {
    vault.Create(kMaster, 7);
    for (int i = 0; i < entries; ++i) {
        vault.store.m_entries.push_back(
            MakePasswordEntry("entry-" + std::to_string(i), "password-" + std::to_string(i)));
    }
    // One write of the whole list: adding the entries one by one rewrites it every time.
    vault.store.SaveEntries(vault.Directory(), kMaster, false);
    vault.store.m_entries.clear();
    vault.CloseFiles();
    testsupport::ProgramRun::Install(FERROCASK_PROGRAM, vault.Directory());
    testsupport::WriteFile(vault.File("config.txt"), "/config/update/server off\n");
}

// VmRSS of a process, in KiB.
long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

void Close(xdriver::XSession& x, testsupport::ProgramWindow& window, testsupport::ProgramRun& run,
           benchmark::State& state) {
    x.RequestClose(window.Id());
    if (!run.WaitForEnd(10000) || !WIFEXITED(run.Status()) || WEXITSTATUS(run.Status()) != 0) {
        state.SkipWithError("the program did not end cleanly");
    }
}

void BM_StartUpToFirstPanel(benchmark::State& state) {
    testsupport::TestVault vault;
    PrepareFolder(vault, 0);
    xdriver::XSession x;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        testsupport::ProgramRun run(vault.Directory());
        testsupport::ProgramWindow window(x, run.Pid());
        xdriver::Point keyboard;
        // Polled as fast as the screen can be read (a few milliseconds a look).
        const bool shown =
            window.WaitShown(20000) &&
            xdriver::WaitUntil([&] { return window.KeyboardDrawn(&keyboard); }, 20000);
        const auto drawn = std::chrono::steady_clock::now();
        if (!shown) {
            state.SkipWithError("no password panel");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(drawn - started).count());
        Close(x, window, run, state);
    }
}
BENCHMARK(BM_StartUpToFirstPanel)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ResidentMemoryWithOpenVault(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    testsupport::TestVault vault;
    PrepareFolder(vault, entries);
    xdriver::XSession x;
    for (auto _ : state) {
        testsupport::ProgramRun run(vault.Directory());
        testsupport::ProgramWindow window(x, run.Pid());
        const auto started = std::chrono::steady_clock::now();
        if (!window.WaitShown(20000) || !window.TypePassword(kMaster) ||
            !window.WaitSettled(10000)) {
            state.SkipWithError("no picture check");
            break;
        }
        window.Click(PictureCheckTemplate(), ids::kOk);
        // The list is filled and drawn once the window is still again.
        if (!window.WaitSettled(20000)) {
            state.SkipWithError("the list did not settle");
            break;
        }
        const auto listed = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(listed - started).count());
        state.counters["VmRSS_KiB"] = static_cast<double>(ResidentKiB(run.Pid()));
        Close(x, window, run, state);
    }
}
BENCHMARK(BM_ResidentMemoryWithOpenVault)
    ->Arg(0)
    ->Arg(1000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
