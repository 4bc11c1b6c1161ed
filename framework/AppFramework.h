// The framework's application object: Init brings the framework up (logging switches, the
// log, the three standard devices, the crash-report writer), Fini takes it down in a fixed
// order, and Run is a console wait loop for hosts without a user interface.
#pragma once

#include <loki/Singleton.h>

#include "framework/Base.h"

namespace Ombrix {

class AppFramework : public PlainBase {
public:
    ~AppFramework() override = default;

    // 1. running flag on; 2. "/config/system/log" defaults to "true"; 3. the log level
    // from "/config/system/loglevel" (read like atoi; creating the log); 4-6. registers
    // "/device/system/thread", "/device/system/db" and "/device/system/net"; 7. installs
    // the crash-report writer with "/config/system/dumpname" and "/config/system/outputpath".
    // Always 0.
    virtual int Init();

    // Writes "quit to exit" and reads words from standard input until one is exactly
    // "quit" or the input ends. Always 0.
    virtual int Run();

    // Running flag off, then removes the devices net, db, thread (in that order; each stops
    // its threads before it is gone) and deletes the device registry. Always 0.
    virtual int Fini();
};

// The application's framework object: it reads its settings from "config.txt".
class MyFramework : public AppFramework {
public:
    // The single object, created on first use; asked for after it was destroyed at process
    // exit it throws std::logic_error("Dead Reference Detected").
    static MyFramework& Instance();

    // Names "config.txt" as the configuration file, then starts the framework. Always 0.
    int Init() override;
    int Fini() override;

private:
    friend struct Loki::CreateUsingNew<MyFramework>;
    MyFramework() = default;
};

using MyFrameworkHolder =
    Loki::SingletonHolder<MyFramework, Loki::CreateUsingNew, Loki::DefaultLifetime,
                          Loki::ClassLevelLockable, Loki::Mutex>;

}  // namespace Ombrix
