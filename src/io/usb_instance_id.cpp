#include "io/usb_instance_id.h"

#include <cctype>

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// The hex digits of a field such as "VID_0403", exactly `digits` of them.
std::optional<unsigned> hexField(std::string_view field, std::string_view name,
                                 std::size_t digits) {
    if (!startsWithNoCase(field, name) || field.size() != name.size() + digits) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : field.substr(name.size())) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
            return std::nullopt;
        }
        const int digit = std::isdigit(static_cast<unsigned char>(c)) != 0
                              ? c - '0'
                              : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

}  // namespace

bool UsbInstanceId::instanceIsSerial() const {
    return !instance.empty() && instance.find('&') == std::string::npos;
}

std::optional<UsbInstanceId> parseUsbInstanceId(std::string_view id) {
    constexpr std::string_view kEnumerator = "USB\\";
    if (!startsWithNoCase(id, kEnumerator)) {
        return std::nullopt;
    }
    id.remove_prefix(kEnumerator.size());
    const auto slash = id.find('\\');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view ids = id.substr(0, slash);
    UsbInstanceId parsed;
    parsed.instance = std::string(id.substr(slash + 1));
    std::optional<unsigned> vendor;
    std::optional<unsigned> product;
    while (!ids.empty()) {
        const auto amp = ids.find('&');
        const std::string_view field = ids.substr(0, amp);
        if (const auto v = hexField(field, "VID_", 4)) {
            vendor = v;
        } else if (const auto p = hexField(field, "PID_", 4)) {
            product = p;
        } else if (const auto mi = hexField(field, "MI_", 2)) {
            parsed.interfaceNumber = mi;
        }
        ids = amp == std::string_view::npos ? std::string_view() : ids.substr(amp + 1);
    }
    if (!vendor || !product || parsed.instance.find('\\') != std::string::npos) {
        return std::nullopt;
    }
    parsed.vendorId = static_cast<std::uint16_t>(*vendor);
    parsed.productId = static_cast<std::uint16_t>(*product);
    return parsed;
}
