#include "protocol/mouse_packet.h"

#include <algorithm>

namespace {

// Far beyond a packet's range, far within int32's.
constexpr std::int32_t kSumBound = 1 << 20;

std::int32_t addBounded(std::int32_t sum, std::int32_t delta) {
    const std::int64_t wide = static_cast<std::int64_t>(sum) + delta;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(wide, -kSumBound, kSumBound));
}

// One axis: the byte it sends, and its overflow bits (bit 0 past +127, bit 1
// past -128) to be shifted into the status byte.
struct Axis {
    std::uint8_t value;
    std::uint8_t overflow;
};

Axis axisOf(std::int32_t sum) {
    const std::int32_t sent = std::clamp(sum, -128, 127);
    const std::uint8_t overflow = sum > 127 ? 0x1 : sum < -128 ? 0x2 : 0x0;
    return {static_cast<std::uint8_t>(sent & 0xFF), overflow};
}

}  // namespace

void MouseMotion::move(std::int32_t dx, std::int32_t dy) {
    sumX = addBounded(sumX, dx);
    sumY = addBounded(sumY, dy);
}

void MouseMotion::Button::set(bool now) {
    pressed = pressed || (now && !down);
    released = released || (!now && down);
    down = now;
}

bool MouseMotion::Button::take() {
    // Up when told, a press since shows; down when told, a release does.
    told = told ? !released && down : pressed || down;
    // What the packet could not tell yet waits for the next one.
    pressed = down && !told;
    released = !down && told;
    return told;
}

void MouseMotion::setButtons(bool leftDown, bool rightDown) {
    left.set(leftDown);
    right.set(rightDown);
}

MouseMotion::Packet MouseMotion::takePacket() {
    const Axis x = axisOf(sumX);
    const Axis y = axisOf(sumY);
    sumX = 0;
    sumY = 0;
    const auto status =
        static_cast<std::uint8_t>((left.take() ? 0x01 : 0) | (right.take() ? 0x02 : 0) |
                                  (x.overflow << 4) | (y.overflow << 6));
    return {status, x.value, y.value};
}

void MouseMotion::reset() {
    sumX = 0;
    sumY = 0;
    left = {};
    right = {};
}
