// The main program of the tests that need real windows, on the X server named by DISPLAY.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include "platform/Picture.h"

// fontconfig keeps its caches for the life of the process; only its own allocations are
// waived, a leak of the program's code still fails.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();  // listing needs no display
    }
    // XTest needs GTK's X11 backend; there is no accessibility bus or settings daemon.
    ::setenv("GDK_BACKEND", "x11", 1);
    ::setenv("NO_AT_BRIDGE", "1", 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "cannot start the widget library: is there an X display?\n");
        return 1;
    }
    // A failed assertion of the widget library fails the test instead of opening a dialog.
    wxSetAssertHandler([](const wxString& file, int line, const wxString& function,
                          const wxString& condition, const wxString& message) {
        ADD_FAILURE_AT(file.utf8_str(), line)
            << "wxWidgets assertion " << condition.utf8_str() << " in " << function.utf8_str()
            << ": " << message.utf8_str();
    });
    platform::EnablePictureDecoders();
    int result = 0;
    {
        wxEventLoop loop;
        wxEventLoopActivator active(&loop);
        result = RUN_ALL_TESTS();
    }
    wxEntryCleanup();
    return result;
}
