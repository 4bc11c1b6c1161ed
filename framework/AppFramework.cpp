#include "framework/AppFramework.h"

#include <iostream>
#include <memory>
#include <string>

#include "framework/Config.h"
#include "framework/CrashDump.h"
#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"
#include "framework/LeadingInteger.h"
#include "framework/Log.h"
#include "framework/NetDevice.h"
#include "framework/SingletonAccess.h"
#include "framework/ThreadDevice.h"

namespace Ombrix {

int AppFramework::Init() {
    g_running = true;

    Config& config = Config::Instance();
    if (config.GetValue("/config/system/log").empty()) {
        config.SetValue("/config/system/log", "true");
    }
    // Asking for the log creates it, now that the logging switch is settled.
    const std::string level = config.GetValue("/config/system/loglevel");
    Log::Instance().SetLevel(level.empty() ? 0 : LeadingInt(level));

    DeviceManager& devices = DeviceManager::Instance();
    devices.Add("/device/system/thread", std::make_unique<ThreadDevice>());
    devices.Add("/device/system/db", std::make_unique<DbDevice>());
    devices.Add("/device/system/net", std::make_unique<NetDevice>());

    // There is no process error mode to set here: the system shows no error boxes for a
    // process, so failing calls already come back as results.

    // The crash writer takes its settings now; reading them in a crashing process could
    // wait forever for a lock the failing thread holds.
    InstallCrashDumpWriter(config.GetValue("/config/system/dumpname"),
                           config.GetValue("/config/system/outputpath"));
    return 0;
}

int AppFramework::Run() {
    std::cout << "quit to exit" << std::endl;
    std::string word;
    while (std::cin >> word) {
        if (word == "quit") {
            break;
        }
    }
    return 0;
}

int AppFramework::Fini() {
    g_running = false;
    DeviceManager& devices = DeviceManager::Instance();
    devices.Remove("/device/system/net");
    devices.Remove("/device/system/db");
    devices.Remove("/device/system/thread");
    DeviceManager::DestroyInstance();
    return 0;
}

MyFramework& MyFramework::Instance() {
    return SingletonInstance<MyFrameworkHolder>();
}

int MyFramework::Init() {
    Config::SetFileName("config.txt");
    AppFramework::Init();
    return 0;
}

int MyFramework::Fini() {
    return AppFramework::Fini();
}

}  // namespace Ombrix
