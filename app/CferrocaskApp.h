// The application object: brings the framework up, starts the update check, runs the main
// window modally and takes everything down again when it closes.
#pragma once

#include <wx/app.h>

#include "platform/FontConfigurationLoad.h"

class CferrocaskApp : public wxApp {
public:
    CferrocaskApp();

    // The program's whole run. Always false, so that the program ends when it returns.
    bool OnInit() override;

    // The program takes nothing from its command line.
    void OnInitCmdLine(wxCmdLineParser& parser) override;
    bool OnCmdLineParsed(wxCmdLineParser& parser) override;

    // True once the main window ran and the framework was stopped: the program ends
    // normally (status 0).
    static bool RanToTheEnd();

private:
    // Started with the application object, before the widget library opens the display.
    platform::FontConfigurationLoad m_fontConfiguration;
};
