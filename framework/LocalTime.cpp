#include "framework/LocalTime.h"

#include <ace/Date_Time.h>
#include <ace/OS_NS_sys_time.h>

namespace Ombrix {

LocalTime CurrentLocalTime() {
    const ACE_Date_Time now(ACE_OS::gettimeofday());
    LocalTime t;
    t.year = static_cast<int>(now.year());
    t.month = static_cast<int>(now.month());
    t.day = static_cast<int>(now.day());
    t.hour = static_cast<int>(now.hour());
    t.minute = static_cast<int>(now.minute());
    t.second = static_cast<int>(now.second());
    return t;
}

}  // namespace Ombrix
