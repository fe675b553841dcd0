// Sealed frames come from the network. The fuzzer plays a phone that sends
// honest frames, replays, damaged copies, the computer's own frames and
// bytes of its own choosing to the computer's channel. Only the next honest frame ever opens, and to its own
// plaintext; the first frame that does not kills the channel for good, and
// the receive counter counts exactly the frames that opened.
#include "FerlowCore/SealingChannel.h"
#include "fuzz/FuzzSupport.h"

using namespace ferlow;
using fuzz::require;

namespace {

SessionKeys keys(Role role)
{
    return SessionCrypto::deriveKeys(Bytes(32, 0x5A), Bytes(16, 1), Bytes(16, 2), role);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input input(data, size);
    SealingChannel phone(keys(Role::phone));
    SealingChannel mac(keys(Role::mac));
    std::vector<Bytes> sent;
    std::uint64_t opened = 0;
    bool failed = false;

    while (!input.empty()) {
        const std::uint8_t op = input.byte();
        const ByteView plaintext = input.take(input.byte() % 64);
        Bytes frame;
        bool honest = false;
        switch (op % 5) {
        case 0: // the next honest frame
            frame = phone.seal(plaintext);
            honest = true;
            break;
        case 1: // bytes of the fuzzer's own
            frame.assign(plaintext.begin(), plaintext.end());
            break;
        case 2: { // an honest frame, damaged: one bit flipped or cut short
            frame = phone.seal(plaintext);
            const std::size_t at = input.byte() % frame.size();
            if (op & 4)
                frame.resize(at);
            else
                frame[at] ^= static_cast<std::uint8_t>(1u << (op >> 5));
            break;
        }
        case 3: // a frame sent before
            if (sent.empty())
                continue;
            frame = sent[input.byte() % sent.size()];
            break;
        case 4: // a frame the computer sealed, sent back to it
            frame = mac.seal(plaintext);
            break;
        }
        sent.push_back(frame);
        // An honest frame only opens while the channel has seen every earlier one.
        const bool shouldOpen = honest && !failed && mac.receiveCounter() + 1 == phone.sendCounter();
        try {
            const Bytes result = mac.open(frame);
            require(shouldOpen, "only the next honest frame opens");
            require(result == Bytes(plaintext.begin(), plaintext.end()), "it opens to what was sealed");
            ++opened;
        } catch (const SessionCryptoError&) {
            require(!shouldOpen, "the next honest frame opens");
            failed = true;
        }
        require(mac.dead() == failed, "the first failure kills the channel, and only a failure");
        require(mac.receiveCounter() == opened, "the counter counts what opened");
    }
    return 0;
}
