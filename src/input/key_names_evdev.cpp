// Linux back-end of key_names.h: libevdev's tables.
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>

#include "input/key_names.h"

int keyCodeNamed(const char* name) {
    return libevdev_event_code_from_name(EV_KEY, name);
}

const char* keyCodeName(unsigned code) {
    return libevdev_event_code_get_name(EV_KEY, code);
}
