// A phone that pairs with a running `ferlow` from its development pairing
// file and sends stamped moves at a steady rate, as a phone's touch stream
// does. For bench/Ferlow/figures.sh: it only drives, the script measures.
//
//   PhoneLoad <pairing-url-file> <moves> <rate-hz>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/FerlowHost/TestPhone.h"
#include "tests/Support/TestClient.h"
#include "tests/Support/TestSupport.h"

using namespace ferlow;

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: PhoneLoad <pairing-url-file> <moves> <rate-hz>\n");
        return 64;
    }
    const auto link = test::pairingLink(test::readFile(argv[1]));
    const long moves = std::stol(argv[2]);
    const double rate = std::stod(argv[3]);
    if (!link) {
        std::fprintf(stderr, "PhoneLoad: no pairing URL in %s\n", argv[1]);
        return 1;
    }
    const auto port = link->port;
    test::TestPhone phone(link->pairing);
    test::TestClient client(port);
    if (client.upgrade(port).rfind("HTTP/1.1 101", 0) != 0) {
        std::fprintf(stderr, "PhoneLoad: no WebSocket upgrade on port %u\n", port);
        return 1;
    }
    client.send(test::maskedFrame(0x81, asBytes(phone.hello())));
    const auto hello = client.readFrame();
    phone.acceptHello(std::string(hello.payload.begin(), hello.payload.end()));
    client.send(test::maskedFrame(0x82, phone.seal(PhoneMessage::hi("PhoneLoad", false))));
    client.readFrame(); // ready

    // A small circle, so the pointer stays on the screen however long it runs.
    const auto interval = std::chrono::duration<double>(1.0 / rate);
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < moves; ++i) {
        std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval * i));
        const double dx = (i / 60) % 2 ? -3 : 3, dy = (i / 30) % 2 ? -2 : 2;
        client.send(test::maskedFrame(0x82, phone.seal(PhoneMessage::move(dx, dy), 1000.0 * static_cast<double>(i) / rate)));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let the last moves play
    std::printf("sent %ld moves in %.2f s\n", moves,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}
