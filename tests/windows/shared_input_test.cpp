// The real Pellora.exe sharing this computer's keyboard and mouse with the
// X68000, under Wine: xdotool types, moves and clicks on the X display, whose
// events reach the program's low-level hooks as the computer's own while X
// gives them to a Wine window (the test's, focused and under the pointer).
// The key line is the serial peer's COM42, the mouse line its COM43; what the
// computer gets is what the test's window gets.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "desktop.h"
#include "fake_ports.h"
#include "peer_link.h"
#include "tray_program.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A window of the test's own, in front with the keyboard's focus and under
// the pointer, covering the centre of the screen (where the cursor is held
// while the mouse is the X68000's): what reaches it is what the computer got.
// It records the keys and buttons it gets, on a thread of its own.
class ComputerWindow {
public:
    ComputerWindow() {
        thread = std::thread([this] { run(); });
        waitUntil([this] { return window.load() != nullptr; });
    }
    ~ComputerWindow() {
        PostMessageW(window, WM_CLOSE, 0, 0);
        thread.join();
    }

    HWND hwnd() const { return window; }

    // "down A", "up A", "down SCROLL", "lbutton down", ...: what it got, in order.
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex);
        return got;
    }
    bool saw(const std::string& event) const {
        const auto all = events();
        return std::find(all.begin(), all.end(), event) != all.end();
    }
    bool waitFor(const std::string& event) const {
        return waitUntil([&] { return saw(event); });
    }
    std::string text() const {
        std::string all;
        for (const auto& e : events()) {
            all += "  " + e + "\n";
        }
        return all;
    }

    // Gives it the focus and puts the pointer over it, by X's own means.
    void focus(PeerLink& peer) const {
        RECT r{};
        GetWindowRect(window, &r);
        peer.xdo("mousemove " + std::to_string((r.left + r.right) / 2) + " " +
                 std::to_string((r.top + r.bottom) / 2));
        SetForegroundWindow(window);
        peer.xdo("click 1");
        waitFor("lbutton down");
    }

private:
    static std::string keyName(WPARAM vk) {
        switch (vk) {
            case VK_SCROLL:
                return "SCROLL";
            case VK_SHIFT:
                return "SHIFT";
            default:
                return vk >= 'A' && vk <= 'Z' ? std::string(1, static_cast<char>(vk))
                                              : std::to_string(vk);
        }
    }

    void note(const std::string& event) {
        std::lock_guard lock(mutex);
        got.push_back(event);
    }

    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<ComputerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr) {
            switch (message) {
                case WM_KEYDOWN:
                case WM_SYSKEYDOWN:
                    self->note("down " + keyName(wParam));
                    break;
                case WM_KEYUP:
                case WM_SYSKEYUP:
                    self->note("up " + keyName(wParam));
                    break;
                case WM_LBUTTONDOWN:
                    self->note("lbutton down");
                    break;
                case WM_LBUTTONUP:
                    self->note("lbutton up");
                    break;
                case WM_RBUTTONDOWN:
                    self->note("rbutton down");
                    break;
                case WM_RBUTTONUP:
                    self->note("rbutton up");
                    break;
                case WM_MOUSEWHEEL:
                    self->note("wheel");
                    break;
                case WM_DESTROY:
                    PostQuitMessage(0);
                    break;
                default:
                    break;
            }
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    void run() {
        WNDCLASSW c{};
        c.lpfnWndProc = proc;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = L"PelloraTestComputer";
        c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        RegisterClassW(&c);
        const HWND w = CreateWindowExW(0, c.lpszClassName, L"This computer", WS_POPUP | WS_VISIBLE,
                                       200, 150, 624, 468, nullptr, nullptr, c.hInstance, nullptr);
        SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        window = w;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        UnregisterClassW(c.lpszClassName, c.hInstance);
    }

    std::thread thread;
    std::atomic<HWND> window{nullptr};
    mutable std::mutex mutex;
    std::vector<std::string> got;
};

class SharedInput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(setFakePorts({L"USB Serial Port (" + wide(PeerLink::comPort()) + L")",
                                  L"USB Serial Port (" + wide(PeerLink::mouseComPort()) + L")"}));
        program = std::make_unique<TrayProgram>(
            L" " + wide(PeerLink::comPort()) + L" --share --mouse-port=" +
                wide(PeerLink::mouseComPort()) + L" --switch-key=PAUSE",
            std::map<std::wstring, std::wstring>{}, TrayProgram::realExe());
        ASSERT_TRUE(waitUntil([&] { return keys.openers() > 0 && mouse.openers() > 0; }))
            << "the lines were not opened";
        keys.drain();
        computer.focus(keys);
    }
    void TearDown() override {
        if (program) {
            EXPECT_TRUE(program->exit());
        }
    }

    static std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

    // Two taps of the switch key within the double tap's time. Pause, not
    // the default Scroll Lock: Wine keeps its Scroll Lock toggle in step with
    // X's (which Xvfb does not have) by a made-up press and release in front
    // of the next key, which the hook cannot tell from the user's.
    void switchOver() { keys.xdo("key --delay 50 Pause Pause"); }

    // The host asks the mouse for a packet (MSCTRL high, then low).
    Bytes packet() {
        keys.write({0x41, 0x40});
        return mouse.read(3);
    }

    PeerLink keys;
    PeerLink mouse{1};
    ComputerWindow computer;
    std::unique_ptr<TrayProgram> program;
};

TEST_F(SharedInput, EachKeyIsLetGoOfOnTheSideThatSawItGoDown) {
    // Held on the computer while the keyboard goes to the X68000: let go of
    // there. The first tap of the switch is the computer's, the second no
    // one's.
    keys.xdo("keydown a");
    ASSERT_TRUE(computer.waitFor("down A")) << computer.text();
    switchOver();
    keys.xdo("keyup a");
    ASSERT_TRUE(computer.waitFor("up A")) << computer.text();
    // Pressed on the X68000's side: its make is the first byte on the line
    // (A's release was not), and its break goes as the keyboard comes back.
    keys.xdo("keydown b");
    EXPECT_EQ(keys.read(1), Bytes{0x2E});
    switchOver();
    EXPECT_EQ(keys.read(1), Bytes{0xAE});
    keys.xdo("keyup b");
    keys.xdo("key c");
    ASSERT_TRUE(computer.waitFor("up C")) << computer.text();
    EXPECT_FALSE(computer.saw("down B") || computer.saw("up B")) << computer.text();
    const auto all = computer.events();
    EXPECT_EQ(std::count(all.begin(), all.end(), "down 19"), 1) << computer.text();

    // One tap on the X68000's side is its BREAK key, once the double tap's
    // time is over, before what is typed next.
    switchOver();
    keys.xdo("key Pause");
    EXPECT_EQ(keys.read(2), (Bytes{0x61, 0xE1}));
    keys.xdo("key d");
    EXPECT_EQ(keys.read(2), (Bytes{0x20, 0xA0}));
    // Back on the computer, a key is the computer's alone: the next byte on
    // the line is the next key typed on the X68000's side.
    switchOver();
    keys.xdo("key e");
    ASSERT_TRUE(computer.waitFor("up E")) << computer.text();
    switchOver();
    keys.xdo("key f");
    EXPECT_EQ(keys.read(2), (Bytes{0x21, 0xA1}));
}

TEST_F(SharedInput, TheMouseMovesTheX68000sPointerWhileTheKeyboardIsItsAndTheCursorStays) {
    // The computer's: the host finds the mouse, which has not moved for it.
    keys.xdo("mousemove_relative -- 7 3");
    EXPECT_EQ(packet(), (Bytes{0x00, 0x00, 0x00}));
    POINT before{};
    GetCursorPos(&before);

    switchOver();
    EXPECT_TRUE(waitUntil(trayIconIsAmber)) << "the tray's icon did not change";
    POINT held{};
    GetCursorPos(&held);
    keys.xdo("mousemove_relative -- 10 5");
    keys.xdo("mousemove_relative -- -4 2");
    EXPECT_EQ(packet(), (Bytes{0x00, 6, 7}));
    POINT now{};
    GetCursorPos(&now);
    EXPECT_TRUE(now.x == held.x && now.y == held.y) << "the cursor moved";
    // Back, the cursor is where it was.
    switchOver();
    EXPECT_TRUE(waitUntil([] { return !trayIconIsAmber(); }));
    GetCursorPos(&now);
    EXPECT_TRUE(now.x == before.x && now.y == before.y)
        << now.x << "," << now.y << " instead of " << before.x << "," << before.y;

    // Buttons and the wheel are the X68000's too: a notch up is ROLL DOWN on
    // the key line.
    switchOver();
    keys.xdo("mousedown 3");
    EXPECT_EQ(packet(), (Bytes{0x02, 0x00, 0x00}));
    keys.xdo("click 4");
    EXPECT_EQ(keys.read(2), (Bytes{0x39, 0xB9}));
    // Back with the right button held: up on the X68000, and its release is
    // not the computer's.
    switchOver();
    EXPECT_EQ(packet(), (Bytes{0x00, 0x00, 0x00}));
    keys.xdo("mouseup 3");
    keys.xdo("mousedown 1");
    ASSERT_TRUE(computer.waitFor("lbutton down")) << computer.text();
    keys.xdo("mouseup 1");
    EXPECT_FALSE(computer.saw("rbutton down") || computer.saw("rbutton up") ||
                 computer.saw("wheel"))
        << computer.text();
    EXPECT_EQ(packet(), (Bytes{0x00, 0x00, 0x00}));
}

// Suspends or resumes every thread of a process.
void holdProcess(DWORD process, bool hold) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != process) {
            continue;
        }
        if (const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
            if (hold) {
                SuspendThread(thread);
            } else {
                ResumeThread(thread);
            }
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
}

TEST_F(SharedInput, AHookThatStopsSeeingTheKeysGivesThemBackAndSaysSo) {
    switchOver();
    keys.xdo("key x");
    ASSERT_EQ(keys.read(2), (Bytes{0x2B, 0xAB}));
    // Pellora stops answering its hooks, as on a machine too busy to run it
    // in time: Windows would remove them; Wine passes over them, and the key
    // reaches the computer.
    holdProcess(program->process().id(), true);
    keys.xdo("key a");
    const bool computerGotIt = computer.waitFor("up A");
    holdProcess(program->process().id(), false);
    ASSERT_TRUE(computerGotIt) << computer.text();
    const std::wstring notice =
        L"Pellora's hook stopped seeing this computer's keys (Windows took it away, or a "
        L"program run as administrator has them), so the keyboard and mouse are this "
        L"computer's again. Pellora takes the hook again.";
    EXPECT_EQ(trayTipText(true, notice), notice);
    EXPECT_TRUE(waitUntil([] { return !trayIconIsAmber(); }));
    // Hooked again, the keyboard is back for the X68000 (the host is told,
    // as of any keyboard's return), and the switch works as before.
    EXPECT_EQ(keys.read(1), Bytes{0xFF});
    keys.xdo("key b");
    ASSERT_TRUE(computer.waitFor("up B")) << computer.text();
    switchOver();
    keys.xdo("key g");
    EXPECT_EQ(keys.read(2), (Bytes{0x22, 0xA2}));
}

TEST_F(SharedInput, KeyToWireLatencyThroughTheHook) {
    // From the key's event in the X server to its byte on the key line: Wine
    // hands it to the hook thread, which hands it to the worker. Figures
    // only: timing belongs to no assertion here.
    switchOver();
    keys.xdo("key x");
    ASSERT_EQ(keys.read(2), (Bytes{0x2B, 0xAB}));
    std::vector<int> samples = keys.latency("a", 200);
    ASSERT_EQ(samples.size(), 400u);
    std::sort(samples.begin(), samples.end());
    const auto ms = [&](std::size_t at) {
        return samples[std::min(at, samples.size() - 1)] / 1000.0;
    };
    std::printf(
        "key->wire through the hook under Wine: n=%zu p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
        samples.size(), ms(samples.size() / 2), ms(samples.size() * 99 / 100),
        ms(samples.size() - 1));
    RecordProperty("p50_us", samples[samples.size() / 2]);
    RecordProperty("p99_us", samples[samples.size() * 99 / 100]);
}

}  // namespace
