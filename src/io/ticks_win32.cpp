// Windows back-end of the tick source: the multimedia timer's millisecond count,
// which is already 32 bits wide and wraps after about 49.7 days, just as the
// repeat schedule expects.
#include <windows.h>
// After windows.h, whose types it uses.
#include <mmsystem.h>

#include "io/ticks.h"

std::uint32_t systemTickMs() {
    return static_cast<std::uint32_t>(timeGetTime());
}
