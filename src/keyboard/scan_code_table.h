// ScanCodeTable: HID keyboard usage (usage page 0x07) -> X68000 key code.
//
// 0 means the usage has no X68000 key and produces nothing. Left and right Ctrl
// share 0x71, left and right Shift 0x70; each side still sends its own make and break.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/scan_code.h"

using ScanCodeTable = std::array<std::uint8_t, 256>;

extern const ScanCodeTable kScanCodeTable;
