// What the tray icon tells of the relay: a tooltip for each status, and a
// notice (a balloon) when the keyboard or the port stops working and when it
// works again, so that the user learns why typing stopped and that it is back.
//
// Free of Win32: the words come from the program's string table in the
// language it speaks (uiText()), and the window turns the texts (UTF-8) into
// its icon's tooltip and balloons. The English ones are quoted below. port is
// always the port the window last gave to start(), "" for none.
#pragma once

#include <optional>
#include <string>

#include "relay/relay_control.h"

// "Pellora - COM3", "Pellora - COM3 lost, waiting", "Pellora - COM3 could not
// be opened", "Pellora - COM3 is another device now, waiting" or "Pellora - no
// port selected". A port still opening (or not yet started) shows as the port
// alone. A keyboard that is absent adds " - waiting for the keyboard" to
// whatever the port says, one that is refused " - keyboard not usable"; with
// no port chosen, an absent keyboard reads "Pellora - waiting for the keyboard".
// With no port chosen and none present (portsPresent false) it reads
// "Pellora - COM port not found.", and " Waiting for the keyboard." after it
// when that is absent too. A port chosen but not there yet (portAwaited: the
// relay waits for it to appear) reads "Pellora - Waiting for COM3", with
// what the keyboard is doing after it as above.
//
// With this computer's keyboard and mouse shared (status.share set),
// shareSentence (shareLine()) follows on a line of its own, and an X68000 Z
// keyboard that is not plugged in is no news: the computer's keyboard types.
std::string trayTip(const RelayStatus& status, const std::string& port, bool portsPresent,
                    bool portAwaited = false, const std::string& shareSentence = {});

// Where this computer's keyboard and mouse go, in the program's language:
// "Keyboard and mouse: X68000 (Scroll Lock twice to return)." or "Keyboard
// and mouse: this computer."; keyName: the switch key's
// (ShareSwitch::switchKeyName()).
std::string shareLine(ShareSwitch::Side side, const std::string& keyName);

// The second line of the message that ends the program when the keyboard is
// there but cannot be opened (status.keyboard().state Refused): why, and what to do.
std::string keyboardFailureAdvice(const RelayStatus& status);

struct TrayNotice {
    std::string title;  // at most 63 characters
    std::string text;   // at most 255 characters, the reason included
    bool trouble;       // true: something stopped working; false: it works again
};

// The notice for a call on the relay that failed: a start (port names it),
// after which the relay is idle, or another call.
TrayNotice callFailureNotice(const std::string& port, const std::string& reason);

// The notice for a port waited for that has appeared and is open now.
TrayNotice portArrivedNotice(const std::string& port);

// The notice for this computer's keyboard that could not be shared (its hook
// refused by the system), with the system's words; nothing when it was, or
// when nothing is shared.
std::optional<TrayNotice> sharedKeyboardRefusedNotice(const RelayStatus& status);

// Decides the notices: it remembers whether the keyboard and the port are in
// trouble (keyboard absent or refused; port lost, not opened, or another
// device now), and tells each change between working and not once, however
// many status changes come in between (a lost port's reason changes with
// every try to reopen it). A port that turns out to be another device is told
// too, even when it was lost before; the other device going away again is
// not. A port that goes idle or starts opening again was the user's choice:
// it resets the port's trouble without a notice. With this computer's
// keyboard shared (the relay's second keyboard), its hook found no longer
// seeing the keys (the keyboard lost while connected) is told too. Used on
// one thread.
class TroubleWatch {
public:
    // Takes status as known, without a notice: for the status at start-up.
    void assume(const RelayStatus& status);
    // The notice for the change from the last status to this one; nothing when
    // neither the keyboard nor the port crossed between working and not. When
    // both did, one notice tells both.
    std::optional<TrayNotice> update(const RelayStatus& status, const std::string& port);

private:
    enum class PortTrouble { None, Down, OtherDevice };

    bool keyboardDown = false;
    bool keyboardSeen = false;     // connected at some time: its return is a return
    bool sharedConnected = false;  // this computer's keyboard, hooked
    PortTrouble portTrouble = PortTrouble::None;
};
