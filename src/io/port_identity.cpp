// The parts of PortIdentity every platform shares.
#include "io/port_identity.h"

std::string identityText(const PortIdentity& identity) {
    std::string text = identity.vendorId + ":" + identity.productId;
    if (!identity.serial.empty()) {
        text += " serial " + identity.serial;
    }
    if (!identity.interfaceNumber.empty()) {
        text += " interface " + identity.interfaceNumber;
    }
    return text;
}
