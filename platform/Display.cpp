#include "platform/Display.h"

#include <gdk/gdk.h>

namespace platform {

void PreferX11Display() {
    gdk_set_allowed_backends("x11,*");
}

}  // namespace platform
