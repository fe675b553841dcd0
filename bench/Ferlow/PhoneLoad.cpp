// A phone that pairs with a running `ferlow` from its development pairing
// file and sends stamped moves at a steady rate, as a phone's touch stream
// does; or stays connected and idle, pinging once a second as the pad does.
// For bench/Ferlow/figures.sh: it only drives, the script measures.
//
//   PhoneLoad <pairing-url-file> <moves> <rate-hz>
//   PhoneLoad <pairing-url-file> --idle <seconds>
//
// With an X display it also reads the pointer before and after, and says
// whether it ended exactly where the moves add up to.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "FerlowLinux/X11Displays.h"
#include "tests/FerlowHost/TestPhone.h"
#include "tests/Support/TestSupport.h"

using namespace ferlow;

namespace {

using Clock = std::chrono::steady_clock;

Clock::duration seconds(double s) { return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s)); }

// A small circle, so the pointer stays on the screen however long it runs;
// it heads back towards the middle of the 1920 × 1080 screen figures.sh uses.
void sendMoves(test::LoopbackPhone& phone, long moves, double rate, X11Displays& x)
{
    const Point start = x.cursor();
    const double right = start.x > 960 ? -1 : 1, down = start.y > 540 ? -1 : 1;
    Point sum {};
    const auto begin = Clock::now();
    for (long i = 0; i < moves; ++i) {
        std::this_thread::sleep_until(begin + seconds(static_cast<double>(i) / rate));
        const double dx = right * ((i / 60) % 2 ? -3 : 3), dy = down * ((i / 30) % 2 ? -2 : 2);
        sum.x += dx;
        sum.y += dy;
        phone.send(PhoneMessage::move(dx, dy), 1000.0 * static_cast<double>(i) / rate);
    }
    const double took = std::chrono::duration<double>(Clock::now() - begin).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let the last moves play
    std::printf("sent %ld moves in %.2f s\n", moves, took);
    if (x.connected()) {
        const Point end = x.cursor();
        const bool exact = end.x - start.x == sum.x && end.y - start.y == sum.y;
        std::printf("pointer moved by (%g, %g), the moves add up to (%g, %g): %s\n", end.x - start.x, end.y - start.y,
            sum.x, sum.y, exact ? "exact" : "NOT EXACT");
    }
}

} // namespace

int main(int argc, char** argv)
{
    const bool idle = argc == 4 && std::string(argv[2]) == "--idle";
    if (argc != 4) {
        std::fprintf(stderr, "usage: PhoneLoad <pairing-url-file> <moves> <rate-hz>\n"
                             "       PhoneLoad <pairing-url-file> --idle <seconds>\n");
        return 64;
    }
    const auto link = test::pairingLink(test::readFile(argv[1]));
    if (!link) {
        std::fprintf(stderr, "PhoneLoad: no pairing URL in %s\n", argv[1]);
        return 1;
    }
    const auto port = link->port;
    auto pairing = link->pairing;
    pairing.name = "PhoneLoad";
    test::LoopbackPhone phone(port, pairing);
    try {
        phone.connect("PhoneLoad");
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "PhoneLoad: cannot connect on port %u: %s\n", port, failure.what());
        return 1;
    }

    if (idle) {
        const auto begin = Clock::now();
        const double span = std::stod(argv[3]);
        for (int i = 0; i < span; ++i) {
            std::this_thread::sleep_until(begin + seconds(i));
            phone.send(PhoneMessage::ping(1000.0 * i));
            phone.receive(); // the pong
        }
        std::this_thread::sleep_until(begin + seconds(span));
        return 0;
    }
    X11Displays x;
    sendMoves(phone, std::stol(argv[2]), std::stod(argv[3]), x);
    return 0;
}
