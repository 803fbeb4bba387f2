// A relay on the emulated keyboard and a pty whose host end stops reading until
// the line is full: the state of the full-line and hang-up tests.
#pragma once

#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include "process_probe.h"
#include "usb/relay_fixture.h"

class FullLine : public RelayOnEmulatedKeyboard {
protected:
    static constexpr std::uint8_t kBitmap = EmulatedKeyboard::kBitmapEndpoint;
    // Reports are sent in batches small enough for one worker pass to take
    // whole (its key queue keeps 4096 bytes; each report toggles every key of
    // the bitmap endpoint, 114 bytes). A pty holds some 64 KiB; the reports
    // below make about 270 KiB.
    static constexpr int kBatch = 30;
    static constexpr int kReportsToFill = 2400;

    void SetUp() override {
        RelayOnEmulatedKeyboard::SetUp();
        slaveFd = fdOpenOn(pty.slavePath());
        ASSERT_GE(slaveFd, 0);
    }

    // Types while the host reads nothing, far past what the line can hold (its
    // fill level cannot be read from the host end: FIONREAD there counts only
    // the first 4 KiB). Past the full point every byte written is lost, and
    // the worker must never sleep in write() for it: a worker that did would
    // stop taking reports, and waitForDelivered would fail.
    void fillTheLine() {
        bool down = false;
        for (int sent = 0; sent < kReportsToFill; sent += kBatch) {
            for (int i = 0; i < kBatch; ++i, down = !down) {
                kb.sendReport(kBitmap, Bytes(16, down ? 0x00 : 0xFF));
            }
            ASSERT_TRUE(kb.waitForDelivered()) << "the worker stopped taking reports";
        }
    }

    int slaveFd = -1;
};
