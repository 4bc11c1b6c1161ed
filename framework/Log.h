// The process-wide error log: one text file per run, named after the start time, to which
// any thread appends time-stamped error lines, each flushed to disk at once.
#pragma once

#include <fstream>
#include <string>

#include <loki/Singleton.h>

#include "framework/Base.h"

namespace Ombrix {

class Log : public PlainBase, private Loki::ObjectLevelLockable<Log, Loki::Mutex> {
    using Lockable = Loki::ObjectLevelLockable<Log, Loki::Mutex>;

public:
    // The single log, created on first use. Whether it writes a file is decided then, from
    // "/config/system/log". A call after it was destroyed at exit throws std::logic_error.
    static Log& Instance();

    // Only 0 and 1 are accepted, and only while logging is on.
    void SetLevel(int level);

    // Appends one error line; a null message is ignored.
    void Error(const char* message);

    ~Log() override;

private:
    friend struct Loki::CreateUsingNew<Log>;
    Log();

    std::ofstream m_file;
    int m_level = 0;
    std::string m_logName;
};

// The file name the log uses for the given settings and start time.
std::string ComposeLogFileName(const std::string& outputPath, const std::string& logName, int year,
                               int month, int day, int hour, int minute, int second);

}  // namespace Ombrix
