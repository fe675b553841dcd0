// A phone that presses the left button, moves once and falls silent, as a
// phone does that leaves the network mid-drag, a hundred times over: each
// time it waits until the X server shows the button up and records how long
// after the phone's last message that was. For bench/Ferlow/figures.sh, with
// `ferlow --headless` posting through XTest to the same X server ($DISPLAY).
//
//   SilentRelease <pairing-url-file> <trials>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>

#include "tests/FerlowHost/TestPhone.h"
#include "tests/Support/TestClient.h"
#include "tests/Support/TestSupport.h"

using namespace ferlow;
using Clock = std::chrono::steady_clock;

namespace {

bool leftButtonDown(Display* display)
{
    Window root = 0, child = 0;
    int x = 0, y = 0, windowX = 0, windowY = 0;
    unsigned mask = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &mask);
    return (mask & Button1Mask) != 0;
}

// Polls until the button shows `down`; false after five seconds.
bool waitFor(Display* display, bool down)
{
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (leftButtonDown(display) != down) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: SilentRelease <pairing-url-file> <trials>\n");
        return 64;
    }
    const auto link = test::pairingLink(test::readFile(argv[1]));
    const long trials = std::stol(argv[2]);
    Display* display = XOpenDisplay(nullptr);
    if (!link || !display) {
        std::fprintf(stderr, "SilentRelease: no pairing URL in %s, or no X display\n", argv[1]);
        return 1;
    }
    test::LoopbackPhone phone(link->port, link->pairing);
    phone.connect("SilentRelease");

    std::vector<double> after; // milliseconds from the last message to the button up
    double stamp = 0;
    for (long trial = 0; trial < trials; ++trial) {
        phone.send(PhoneMessage::button(0, true, 1), stamp += 16);
        if (!waitFor(display, true)) {
            std::fprintf(stderr, "SilentRelease: the button never went down\n");
            return 1;
        }
        phone.send(PhoneMessage::move(1, 0), stamp += 16);
        const auto last = Clock::now();
        if (!waitFor(display, false)) {
            std::fprintf(stderr, "SilentRelease: the button stayed down\n");
            return 1;
        }
        after.push_back(std::chrono::duration<double, std::milli>(Clock::now() - last).count());
        stamp += 1000;
        // Each trial falls silent at another point of the 0.1 s session tick.
        std::this_thread::sleep_for(std::chrono::microseconds(trial * 37'000 % 100'000));
    }
    std::sort(after.begin(), after.end());
    const auto over = std::count_if(after.begin(), after.end(), [](double ms) { return ms > 600; });
    std::printf("silent phone, button up on the X server after its last message, %zu trials: "
                "median %.1f ms, 99th %.1f ms, max %.1f ms, %ld over 600 ms\n",
        after.size(), after[after.size() / 2], after[after.size() * 99 / 100], after.back(), static_cast<long>(over));
    return 0;
}
