#include "framework/Log.h"

#include <cstdio>
#include <iostream>

#include "framework/Config.h"
#include "framework/LocalTime.h"
#include "framework/SingletonAccess.h"

namespace Ombrix {

namespace {

using LogHolder = Loki::SingletonHolder<Log, Loki::CreateUsingNew, Loki::DefaultLifetime,
                                        Loki::ClassLevelLockable, Loki::Mutex>;

bool LoggingEnabled() {
    return Config::Instance().GetValue("/config/system/log") == "true";
}

}  // namespace

std::string ComposeLogFileName(const std::string& outputPath, const std::string& logName, int year,
                               int month, int day, int hour, int minute, int second) {
    // The stamp has a fixed width; the path and the name are joined as strings, so that no
    // length of either is cut or overruns anything.
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "_%04d_%02d_%02d_%02d_%02d_%02d.txt", year, month, day, hour,
                  minute, second);
    return outputPath + "log_" + logName + stamp;
}

Log& Log::Instance() {
    return SingletonInstance<LogHolder>();
}

Log::Log() {
    Config& config = Config::Instance();
    m_logName = config.GetValue("/config/system/logname");
    if (m_logName.empty()) {
        m_logName = "ombrix";
    }
    if (config.GetValue("/config/system/log") != "true") {
        return;
    }
    Lockable::Lock guard(*this);
    const LocalTime now = CurrentLocalTime();
    const std::string fileName =
        ComposeLogFileName(config.GetValue("/config/system/outputpath"), m_logName, now.year,
                           now.month, now.day, now.hour, now.minute, now.second);
    m_file.open(fileName, std::ios::out | std::ios::app);
    if (!m_file.is_open()) {
        std::cout << "Log::Log(), fopen error!" << std::endl;
    }
}

Log::~Log() {
    if (LoggingEnabled() && m_file.is_open()) {
        m_file.close();
    }
}

void Log::SetLevel(int level) {
    if (!LoggingEnabled() || (level != 0 && level != 1)) {
        return;
    }
    Lockable::Lock guard(*this);
    m_level = level;
}

void Log::Error(const char* message) {
    if (!LoggingEnabled() || message == nullptr) {
        return;
    }
    // The time stamp is taken before the lock, so lines of different threads may be
    // slightly out of time order, but never interleaved.
    const LocalTime now = CurrentLocalTime();
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02d %02d:%02d:%02d   error:", now.year,
                  now.month, now.day, now.hour, now.minute, now.second);
    Lockable::Lock guard(*this);
    if (m_level > 1 || !m_file.is_open()) {
        return;
    }
    m_file << prefix << message << std::endl;
    m_file.flush();
}

}  // namespace Ombrix
