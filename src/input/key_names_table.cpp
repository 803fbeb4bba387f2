// The table back-end of key_names.h, where libevdev is not to be had
// (Windows): every KEY_ and BTN_ name of the build host's
// linux/input-event-codes.h, in its order, listed at configure time
// (src/CMakeLists.txt) into key_name_table.inc and given its value here by
// the same header. A code with several names is called by the first.
#include <linux/input-event-codes.h>

#include <cstring>
#include <utility>

#include "input/key_names.h"

namespace {

constexpr std::pair<const char*, unsigned> kNames[] = {
#include "key_name_table.inc"
};

}  // namespace

int keyCodeNamed(const char* name) {
    for (const auto& [called, code] : kNames) {
        if (std::strcmp(called, name) == 0) {
            return static_cast<int>(code);
        }
    }
    return -1;
}

const char* keyCodeName(unsigned code) {
    for (const auto& [called, value] : kNames) {
        if (value == code) {
            return called;
        }
    }
    return nullptr;
}
