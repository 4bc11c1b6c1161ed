// The real program as a user meets it, on the X server of DISPLAY (`make bench` starts Xvfb
// when there is none), beside its floor: a bare wxWidgets dialog with a button and a list box
// (bare_frame). Both are copied into a program folder of their own and started the same
// way, one after the other in every round; for each the time from starting the executable
// until its window has reached its first complete look (the last change of its content
// before it stays still for 300 ms), and its resident memory then. The summary gives each
// figure next to the bare dialog's and their ratio. The program's resident memory with an
// open vault of 1,000 entries is measured too.
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "resources/DialogTemplates.h"
#include "support/ProgramRun.h"
#include "support/ProgramWindow.h"
#include "support/TestVault.h"
#include "vault/PasswordEntry.h"

namespace {

using Clock = std::chrono::steady_clock;
// Rounds of the start-up comparison: its medians move by tens of per cent from run to run
// on a shared machine with fewer.
constexpr int kRounds = 15;
const std::string kMaster = "qwe12345";

// A folder with the program beside a vault of entries entries, the update check off.
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
    testsupport::ProgramRun::InstallProgram(vault.Directory());
    testsupport::WriteFile(vault.File("config.txt"), "/config/update/server off\n");
}

// VmRSS of a process, in MiB.
double ResidentMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024;
        }
    }
    return -1;
}

struct StartUp {
    double seconds = -1;  // to the first complete look; negative when it never came
    double residentMiB = -1;
};

// Starts the executable installed in folder and watches its window until it stays still.
StartUp MeasureStartUp(xdriver::XSession& x, const std::string& folder) {
    StartUp result;
    const Clock::time_point started = Clock::now();
    testsupport::ProgramRun run(folder);
    testsupport::ProgramWindow window(x, run.Pid());
    // Looked for every 2 ms: the tests' 20 ms steps would be a fifth of the bare dialog's time.
    if (!window.WaitShown(20000, 2)) {
        return result;
    }
    xdriver::Image last = x.CaptureWindow(window.Id());
    Clock::time_point changed = Clock::now();
    while (Clock::now() - changed < std::chrono::milliseconds(300)) {
        xdriver::Image now = x.CaptureWindow(window.Id());
        if (now.rgb != last.rgb) {
            changed = Clock::now();
            last = std::move(now);
        }
        if (Clock::now() - started > std::chrono::seconds(20)) {
            return result;
        }
    }
    result.seconds = std::chrono::duration<double>(changed - started).count();
    result.residentMiB = ResidentMiB(run.Pid());
    x.RequestClose(window.Id());
    run.WaitForEnd(10000);
    return result;
}

// The first GTK program on an X server loads the whole OpenGL stack (tens of MB, with the
// software renderer) to choose its visuals and leaves its choice on the root window for the
// programs after it; the server forgets it whenever its last client leaves, as between two
// benchmarks. The bare dialog in bareFolder, started once, unmeasured, on the session that
// stays open takes that cost, so that neither measured program carries it.
void TakeTheServersFirstStart(xdriver::XSession& x, const std::string& bareFolder) {
    MeasureStartUp(x, bareFolder);
}

// A folder with the bare dialog in it.
struct BareDialogFolder : testsupport::TempDir {
    BareDialogFolder() { testsupport::ProgramRun::Install(BARE_FRAME_PROGRAM, Path()); }
};

struct Comparison {
    double program = 0, bare = 0, programMiB = 0, bareMiB = 0;
};
Comparison g_startUp;

void BM_StartUpBesideBareDialog(benchmark::State& state) {
    testsupport::TestVault vault;
    PrepareFolder(vault, 0);
    const BareDialogFolder bareFolder;
    xdriver::XSession x;
    // A new X server puts the pointer in the middle of the screen, where the centred main
    // window has its password panel's OK button: the button would then fade into its hover
    // look for a fifth of a second after mapping, which the bare dialog, with its button
    // elsewhere, does not. Neither window is measured under the pointer.
    x.ParkPointer();
    TakeTheServersFirstStart(x, bareFolder.Path());
    std::vector<StartUp> program, bare;
    for (auto _ : state) {
        program.push_back(MeasureStartUp(x, vault.Directory()));
        bare.push_back(MeasureStartUp(x, bareFolder.Path()));
        if (program.back().seconds < 0 || bare.back().seconds < 0) {
            state.SkipWithError("a window did not come or did not settle");
            return;
        }
        state.SetIterationTime(program.back().seconds);
    }
    // The medians: one slow round on a shared machine does not move them.
    const auto median = [](std::vector<StartUp> runs, double StartUp::*field) {
        std::sort(runs.begin(), runs.end(),
                  [field](const StartUp& a, const StartUp& b) { return a.*field < b.*field; });
        return runs[runs.size() / 2].*field;
    };
    g_startUp = {median(program, &StartUp::seconds) * 1000, median(bare, &StartUp::seconds) * 1000,
                 median(program, &StartUp::residentMiB), median(bare, &StartUp::residentMiB)};
    state.counters["bare_ms"] = g_startUp.bare;
    state.counters["ratio"] = g_startUp.program / g_startUp.bare;
    state.counters["RSS_MiB"] = g_startUp.programMiB;
    state.counters["bare_RSS_MiB"] = g_startUp.bareMiB;
}
BENCHMARK(BM_StartUpBesideBareDialog)
    ->Iterations(kRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_ResidentMemoryWithOpenVault(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    testsupport::TestVault vault;
    PrepareFolder(vault, entries);
    xdriver::XSession x;
    TakeTheServersFirstStart(x, BareDialogFolder().Path());
    for (auto _ : state) {
        testsupport::ProgramRun run(vault.Directory());
        testsupport::ProgramWindow window(x, run.Pid());
        const auto started = Clock::now();
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
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
        state.counters["RSS_MiB"] = ResidentMiB(run.Pid());
        x.RequestClose(window.Id());
        run.WaitForEnd(10000);
    }
}
BENCHMARK(BM_ResidentMemoryWithOpenVault)
    ->Arg(0)
    ->Arg(1000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_startUp.bare > 0) {
        std::printf("\n%-28s %12s %12s %7s\n", "start-up (median of 15)", "ferrocask",
                    "bare dialog", "ratio");
        std::printf("%-28s %12.1f %12.1f %7.2f\n", "to the first look, ms", g_startUp.program,
                    g_startUp.bare, g_startUp.program / g_startUp.bare);
        std::printf("%-28s %12.1f %12.1f %+7.1f\n", "resident memory, MiB (diff)",
                    g_startUp.programMiB, g_startUp.bareMiB,
                    g_startUp.programMiB - g_startUp.bareMiB);
    }
    return 0;
}
