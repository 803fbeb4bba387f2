// KeyRelay: carries keys from its keyboards (the X68000 Z keyboard, or on
// Linux any input-device keyboards, several at once) to the host's serial line
// and the host's commands back to the keyboards, on one worker thread, and
// rides through unplugs of any of them. Each keyboard is a KeyboardConnection
// (keyboard_connection.h): which ones is the constructor's and addKeyboard()'s
// choice, and everything here is the same for every kind.
//
// Several keyboards type on one X68000 keyboard: each X68000 key goes down
// with the first keyboard key that presses it and up with the last that lets
// go of it (KeyCounts), whichever keyboards they are on, and the typematic
// follows the X68000 key. A keyboard lost gives the breaks of the keys only
// it held; the others type on.
//
// Use: openKeyboard() once, then start(port) whenever a port is chosen and
// stop() when none is; at the end stop(), then closeKeyboard().
//
// What the worker does beside relaying: a keyboard that goes away (or that was
// absent when the worker started) is opened again as soon as its back-end
// tells of its return (libusb's hotplug, udev's news of input devices), or by a
// try every 0.9 s where it cannot tell (on Windows at each devicesChanged(),
// and every 10 s for safety); one that is present but refused (no
// permission, another program holds it) is tried after a pause that doubles
// from 0.9 s up to 10 s. The host's repeat times
// are kept and its last LED state is sent to the keyboard again. A port that
// goes away is opened again by its name every second, but only while the name
// is the same USB adapter as at the first open, or none (PortIdentity); keys
// typed meanwhile are dropped. Either way the keys the host was told are down
// get their breaks: a key stays held until its break was written to an open
// line, so a break that could not go out goes first when the line is back,
// or as soon as a full line takes bytes again. The same happens when the
// worker moves to another port or stops, and what a stopped worker could not
// send is kept per port for the next worker on it.
//
// A mouse (addMouse(), on Linux --mouse) is a MouseRelay of its own beside
// the keyboard (mouse_relay.h): driven by the same worker, which waits on its
// descriptors too and, in the pass that read a request of the host (MSCTRL
// high then low on the key line), has it write one packet to its own line.
// Its wheel types on the key line: each notch a tap of ROLL DOWN (up) or ROLL
// UP (down), as the page keys do. Without one nothing of a mouse exists.
//
// Each time a keyboard and an open line to the host meet (the worker's
// start, a keyboard's return, the port's return), the host is sent the
// ready byte 0xFF once, after the breaks still owed to the line: the X68000
// answers it with its LED state, so the keyboards' LEDs show the host's at
// once. Host commands are applied as they come, and the LEDs get one report
// per pass at most, which nobody waits for (KeyboardConnection::setLeds): a
// keyboard that does not answer holds up neither keys, nor passes, nor a stop.
// The host's keyboard enable (0x49, sent by every ROM as the machine starts)
// is answered with the makes of the keys still held, in the order they were
// pressed, so that a key held through a reset (OPT.1 at boot) is seen.
//
// Giving the keyboards back (closeKeyboard()) waits, a little, until no key
// is down on them: an input device let go of with a key held would have the
// console type that key's auto-repeat.
//
// Ownership: a KeyRelay owns its worker thread, the serial port, the host's
// byte queue, the typematic, key count and LED state, each KeyboardConnection
// with the key queue it puts its key changes into, and the MouseRelay when it
// has one.
//
// Threads: the owning thread calls openKeyboard, closeKeyboard, start, stop and
// setStatusListener (and addKeyboard and addMouse first); the worker runs the loop
// and, inside the keyboard's event handling, the back-end's callbacks, which
// send the keys of each report (or input event frame) on to the port at once.
// The keyboard, mouse, repeat, LED and retry state is touched by the worker
// while it runs and by the owner only while no worker exists (thread start
// and join order the two). running is atomic; the status has its own lock;
// the queues and the ports carry their own locks. No relay lock is held while
// calling into the keyboard, the mouse or the ports, or the status listener.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "io/byte_queue.h"
#include "io/port_identity.h"
#include "io/serial_port.h"
#include "io/ticks.h"
#include "keyboard/keyboard_connection.h"
#include "keyboard/mouse_connection.h"
#include "protocol/host_commands.h"
#include "protocol/key_counts.h"
#include "protocol/key_output.h"
#include "relay/mouse_relay.h"
#include "relay/relay_control.h"
#include "relay/retry_schedule.h"
#include "relay/worker_wait.h"

class KeyRelay final : public RelayControl {
public:
    // How often the worker tries to get a lost port back, and a keyboard that
    // libusb cannot announce: once a second, and for the keyboard a little
    // more often, so that one that returns types again within a second,
    // opening it included.
    static constexpr std::uint32_t kPortRetryMs = 1000;
    static constexpr std::uint32_t kKeyboardRetryMs = 900;
    // A refused keyboard's pause doubles up to this: every try takes the
    // keyboard from the kernel's driver, if only for a moment.
    static constexpr std::uint32_t kKeyboardRefusedMaxMs = 10000;
    // Where the system says whether the keyboard is plugged in and tells of
    // device changes (Windows: devicesChanged() from the window), a missing
    // keyboard is looked for at each change, and for safety this often.
    static constexpr std::uint32_t kKeyboardSafetyLookMs = 10000;

    // Makes a keyboard the relay drives: its key changes go into keyQueue,
    // and keysQueued, called inside its event handling whenever it has put
    // some there, lets the worker send them on at once.
    using KeyboardFactory = std::function<std::unique_ptr<KeyboardConnection>(
        ByteQueue& keyQueue, std::function<void()> keysQueued)>;

    // Relays the X68000 Z keyboard (UsbKeyboard). watchHotplug false: find a
    // returning keyboard by trying every kKeyboardRetryMs even where libusb
    // could tell of it at once.
    explicit KeyRelay(TickSource ticks = systemTickMs, bool watchHotplug = true);
    // What makes the X68000 Z keyboard, for addKeyboard() beside others.
    static KeyboardFactory x68000ZKeyboard(TickSource ticks = systemTickMs,
                                           bool watchHotplug = true);
    // Relays the keyboard that makeKeyboard makes, once, here.
    explicit KeyRelay(const KeyboardFactory& makeKeyboard, TickSource ticks = systemTickMs);

    // Relays one more keyboard, made here by makeKeyboard; status().keyboards
    // tells of it after the others. Call before openKeyboard(), with no worker.
    void addKeyboard(const KeyboardFactory& makeKeyboard);
    // Stops a worker that still runs and closes the keyboard, so no thread or
    // keyboard resource outlives the object.
    ~KeyRelay() override;
    KeyRelay(const KeyRelay&) = delete;
    KeyRelay& operator=(const KeyRelay&) = delete;

    // Relays a mouse too, its packets going to the serial port called
    // portName (the one wired to MSDATA), and with wheel its wheel as taps
    // on the key line; status().mouse tells of both from now on. Call once,
    // before openKeyboard(), with no worker. Throws std::invalid_argument
    // for no mouse.
    void addMouse(std::unique_ptr<MouseConnection> mouse, const std::string& portName,
                  bool wheel = true);

    // Shares the computer's own keyboards and mouse with the computer by
    // share, which their back-ends follow: status().share tells where they
    // go, and they go back to the computer when the line to the host is
    // lost or the relay stops. Call once, before openKeyboard(), with no
    // worker.
    void setShare(std::shared_ptr<ShareSwitch> share);

    // Opens the keyboards (KeyboardConnection::open(): the X68000 Z
    // keyboard's interfaces claimed, an input device grabbed), and the mouse
    // when there is one. Resets the repeat (500/110 ms) and LED state.
    // Returns whether every keyboard opened; status() says why not, and how
    // the mouse is. Call with no worker.
    bool openKeyboard() override;

    // Gives the keyboards back (KeyboardConnection::close()), and the mouse,
    // once no key is down on them or kKeysUpWaitMs have passed. Safe when
    // nothing is open. Call with no worker running.
    void closeKeyboard() override;
    // How long closeKeyboard() waits for the keys held to go up: within the
    // second that a stopped program has to end.
    static constexpr int kKeysUpWaitMs = 600;

    // Stops any running worker (closing its port), then starts a new worker that
    // opens the port called name and relays until stop(). A port that does not
    // open leaves the worker running without one (status() says Failed).
    // Throws std::system_error if no thread can be made.
    void start(const std::string& name) override;

    // Wakes the worker and waits for it to end; the keys the host holds get
    // their breaks on the port first, then the port is closed. Safe when no
    // worker runs. Throws std::system_error(EDEADLK) from the worker.
    void stop() override;

    RelayStatus status() const override;
    void setStatusListener(std::function<void()> listener) override;
    void devicesChanged() override;
    std::uint64_t workerPasses() const override { return passes.load(); }
    void wakeWorker() override { waiter.wake(); }

private:
    friend class KeyRelayTestPeer;

    // One keyboard the relay reads: its connection, the queue its key
    // changes go into, and when it is tried again while it is away.
    struct Keyboard {
        ByteQueue keys;
        std::unique_ptr<KeyboardConnection> connection;
        RetrySchedule retry{kKeyboardRetryMs, kKeyboardRefusedMaxMs};
    };

    void workerLoop();
    void keysArrived(std::size_t index);
    // Takes keyboard index's queued key changes through the key counts, and
    // sends what comes out of them on to the line when send (else they are
    // only counted: keys from before a worker's start).
    void takeKeys(std::size_t index, bool send, std::uint32_t now);
    // The breaks the line owes, every keyboard's keys, the repeat due.
    void pumpAll(std::uint32_t now);
    void sendOwed();
    // The mouse's wheel, turned since the last pass: a tap of ROLL DOWN per
    // notch up, of ROLL UP per notch down.
    void tapWheel(std::uint32_t now);
    void waitForKeysUp();
    void pollHost();
    void tryKeyboard(Keyboard& k, std::uint32_t now);
    void keyboardLost(std::size_t index, std::uint32_t now);
    void keyboardDeparted(Keyboard& k, std::uint32_t now);
    void awaitArrival(Keyboard& k, std::uint32_t now);
    bool anyKeyboardActive() const;
    void lineOpened();
    void tryPort(std::uint32_t now);
    void portLost(std::uint32_t now);
    int nextWaitMs(std::uint32_t now) const;

    // Status changes: each takes the status lock, changes what differs, counts
    // the change and then, without the lock, tells the listener.
    void noteKeyboards();
    void noteShare();
    void noteMouse();
    void notePort(PortState state, const SerialPort::OpenError& error = {});
    void publish(const std::function<bool(RelayStatus&)>& change);

    std::thread worker;
    std::atomic<std::thread::id> workerId;  // the running worker's, set by the worker itself
    std::atomic<bool> running{false};
    std::atomic<std::uint64_t> passes{0};   // the worker's loop passes, for a watchdog
    std::atomic<bool> devicesMoved{false};  // devicesChanged() since the worker last looked
    std::string portName;                   // written by start() only while no worker runs
    SerialPort port;
    ByteQueue hostQueue;  // bytes the host sent, not yet interpreted
    WorkerWait waiter{port};
    // The keyboards, in the order given; at least one. Each one's address is
    // its connection's (its key queue), so they never move.
    std::vector<std::unique_ptr<Keyboard>> keyboards;
    RepeatState repeat{0, 0, kDefaultRepeatDelayMs, kDefaultRepeatIntervalMs};
    KeyCounts counts;  // which keyboard holds which X68000 key
    HeldKeys held;     // what the host on this worker's line was told is down
    // Per port name, what a worker that ended could not let go of there (its
    // breaks refused, or no line): the next worker on that port sends them
    // first.
    std::map<std::string, HeldKeys> owedByPort;
    LedState leds;  // ledBrightness and ledMask as the host last set them
    // The mouse's MSCTRL line as the host drives it, for the mouse to answer;
    // unknown again on each line opened, when the falls answered start again
    // from none too.
    MsctrlState msctrl;
    std::uint32_t fallsAnswered = 0;
    // The switch of a shared keyboard and mouse; null unless setShare().
    std::shared_ptr<ShareSwitch> share;
    std::uint64_t shareMovesSeen = 0;  // the moves the mouse was last nudged for
    // The mouse and its line; null unless addMouse() was called.
    std::unique_ptr<MouseRelay> mouse;

    // Whether openKeyboard() was called (and closeKeyboard() not since): only
    // then does the worker look for the keyboards.
    bool keyboardWanted = false;
    int keysUpWaitMs = kKeysUpWaitMs;  // a test's own, where the machine is slow
    // When the worker next tries the port; only while the flag beside it is set.
    bool portUp = false;  // the worker's port is open, as the worker last saw
    // The USB adapter the port's name meant at the worker's first open; none
    // for a port without one (a built-in UART, a pseudo-terminal).
    std::optional<PortIdentity> portIdentity;
    bool portRetry = false;
    std::uint32_t portRetryDue = 0;

    mutable std::mutex statusMutex;
    RelayStatus current;             // guarded by statusMutex
    std::function<void()> listener;  // set while no worker runs

    const TickSource ticks;
};
