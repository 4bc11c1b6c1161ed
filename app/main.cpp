// The program's entry: chooses the display system, then hands over to the application
// object. Neither the command line nor the environment tells the program anything.
#include <wx/app.h>

#include "app/CferrocaskApp.h"
#include "framework/ProcessGuard.h"
#include "platform/Display.h"

wxIMPLEMENT_APP_NO_MAIN(CferrocaskApp);

int main(int, char** argv) {
    // Before anything holds a secret: no core file may ever show the vault's passwords.
    Ombrix::DisableCoreDumps();
    platform::PreferX11Display();
    // Only the program's name reaches the widget library, which would otherwise read
    // options of its own from the command line.
    int argc = 1;
    char* arguments[] = {argv[0], nullptr};
    wxEntry(argc, arguments);
    // The application object ends its run on purpose by declining to go on, which the
    // widget library reports as a failure; it is one only if the run did not get through.
    return CferrocaskApp::RanToTheEnd() ? 0 : 1;
}
