#include "app/CferrocaskApp.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/CferrocaskDlg.h"
#include "app/UpdateCheck.h"
#include "framework/AppFramework.h"
#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"
#include "platform/InstanceLock.h"
#include "platform/MessageBox.h"
#include "platform/Picture.h"
#include "platform/UiThread.h"
#include "resources/Texts.h"
#include "vault/ProgramDirectory.h"

namespace {

bool g_ranToTheEnd = false;

// The interface font beside the program, made by the build from a CJK face.
platform::InterfaceFont InterfaceFontBesideTheProgram() {
    return {ProgramDirectory() + FERROCASK_INTERFACE_FONT_FILE, FERROCASK_INTERFACE_FONT_FAMILY,
            FERROCASK_CJK_FACE_FAMILY};
}

// Stops the framework once, on whichever way the main window's run ends.
class FrameworkRun {
public:
    FrameworkRun() {
        // Reads "config.txt" from the current directory; a failed start is not looked at:
        // the framework goes on with its defaults.
        Ombrix::MyFramework::Instance().Init();
    }
    ~FrameworkRun() { Stop(); }
    FrameworkRun(const FrameworkRun&) = delete;
    FrameworkRun& operator=(const FrameworkRun&) = delete;

    void Stop() {
        if (m_running) {
            m_running = false;
            Ombrix::MyFramework::Instance().Fini();
        }
    }

private:
    bool m_running = true;
};

// The update check may still be connecting (a connect has no time limit) or reading. Its
// circuit keeps the network device alive by itself, but the configuration store, the log
// and the widget library are destroyed when the program returns normally, under the
// thread's feet. So while it runs, the program ends here: everything the user made is
// already on disk (the vault is closed with its device, every log line was flushed as it
// was written) and no exit-time destructor runs. A check that is done is joined, so that
// nothing of its thread runs beside the normal end.
void EndWithoutWaitingForTheCheck() {
    platform::CloseUiHandOver();
    if (!EndUpdateChecks()) {
        std::fflush(nullptr);
        std::_Exit(0);
    }
}

}  // namespace

CferrocaskApp::CferrocaskApp() : m_fontConfiguration(InterfaceFontBesideTheProgram()) {}

bool CferrocaskApp::OnInit() {
    m_fontConfiguration.WaitUntilLoaded();
    // One program per vault, decided before the framework or the window opens anything of
    // the vault: a second copy says so and ends (exit status 1) without touching the file.
    // When the folder cannot be locked at all, the program goes on as it would without.
    const platform::InstanceLock vaultLock(ProgramDirectory());
    if (vaultLock.GetState() == platform::InstanceLock::State::kHeldElsewhere) {
        platform::ShowAppMessage(nullptr, texts::kVaultAlreadyOpen);
        return false;
    }
    FrameworkRun framework;
    // Holding the lock, the program knows that no other copy is making the vault file: a
    // temporary file left by a creation cut short is its own and may go.
    if (vaultLock.Held()) {
        if (auto* database = dynamic_cast<Ombrix::DbDevice*>(
                Ombrix::DeviceManager::Instance().Get("/device/system/db"))) {
            database->SetRemovesStaleCreations(true);
        }
    }
    // GTK needs nothing like the common controls or a control container set up, the program
    // keeps no settings in a registry key, and it has no help command of its own (the help
    // file is opened by its link button): those start-up steps have no part here. The
    // picture decoders are registered when the first picture is decoded: registering them
    // here touched the TIFF library and the others and kept some 0.3 MB resident in every
    // run, most of which never see a picture file.

    StartUpdateCheck(DefaultUpdateCheckSettings());

    {
        auto mainWindow = std::make_unique<CferrocaskDlg>();
        SetTopWindow(mainWindow.get());
        if (mainWindow->Create()) {
            mainWindow->ShowModal();
        }
        framework.Stop();
        SetTopWindow(nullptr);
    }  // the main window with its panels and vault store goes here

    EndWithoutWaitingForTheCheck();
    g_ranToTheEnd = true;
    return false;
}

void CferrocaskApp::OnInitCmdLine(wxCmdLineParser&) {}

bool CferrocaskApp::OnCmdLineParsed(wxCmdLineParser&) {
    return true;
}

bool CferrocaskApp::RanToTheEnd() {
    return g_ranToTheEnd;
}
