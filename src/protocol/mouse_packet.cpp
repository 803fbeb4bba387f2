#include "protocol/mouse_packet.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// Far beyond a packet's range, far within int32's.
constexpr std::int32_t kSumBound = 1 << 20;

// One count in the scaled arithmetic's millionths. A move (at most 2^31
// counts) times the largest scale (10^7 millionths) stays far within int64.
constexpr std::int64_t kUnit = 1'000'000;

std::int32_t addBounded(std::int32_t sum, std::int64_t delta) {
    const std::int64_t wide = sum + delta;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(wide, -kSumBound, kSumBound));
}

// a / b rounded down, for b > 0.
std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b < 0 ? 1 : 0);
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

MouseMotion::MouseMotion(double scale) {
    setScale(scale);
}

void MouseMotion::setScale(double scale) {
    if (!(scale >= kMinScale && scale <= kMaxScale)) {  // NaN too
        throw std::invalid_argument("MouseMotion: a scale outside 0.1...10");
    }
    scaleMillionths = std::llround(scale * kUnit);
}

std::int64_t MouseMotion::scaled(std::int64_t& fraction, std::int32_t delta) const {
    // The counts given in all are the scaled total rounded (halves up): a
    // function of the total alone, so a move taken back takes its counts
    // back exactly. Rounding each move towards zero would not: with half a
    // count carried, +0.6 gives a count and -0.6 takes none back.
    const std::int64_t total = fraction + delta * scaleMillionths;
    const std::int64_t whole = floorDiv(total + kUnit / 2, kUnit);
    fraction = total - whole * kUnit;
    return whole;
}

void MouseMotion::move(std::int32_t dx, std::int32_t dy) {
    sumX = addBounded(sumX, scaled(fractionX, dx));
    sumY = addBounded(sumY, scaled(fractionY, dy));
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
    fractionX = 0;
    fractionY = 0;
    left = {};
    right = {};
}
