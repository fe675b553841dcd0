// A phone's frames reach the framer cut into TCP reads of any size. Fed in
// the fuzzer's chunks, the framer must give exactly the frames (and the
// error) it gives when fed the same bytes at once, within its caps.
#include <optional>
#include <vector>

#include "FerlowServer/WebSocketFramer.h"
#include "fuzz/FuzzSupport.h"

using namespace ferlow;
using fuzz::require;

namespace {

struct Decoded {
    std::vector<WSFrame> frames;
    std::optional<WSError::Kind> error;
    bool operator==(const Decoded&) const = default;
};

// Appends each chunk and takes every frame it completes, up to the first error.
Decoded decode(ByteView stream, const std::vector<std::size_t>& cuts)
{
    Decoded result;
    WebSocketFramer framer;
    std::size_t at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        const std::size_t length = std::min(cuts[i % cuts.size()], stream.size() - at);
        framer.append(stream.subspan(at, length));
        at += length;
        try {
            while (auto frame = framer.nextFrame())
                result.frames.push_back(std::move(*frame));
        } catch (const WSError& error) {
            result.error = error.kind();
            break;
        }
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input input(data, size);
    std::vector<std::size_t> cuts(1 + input.byte() % 8);
    for (auto& cut : cuts)
        cut = 1 + input.byte();
    const ByteView stream = input.rest();

    const Decoded whole = decode(stream, {stream.size() + 1});
    const Decoded chunked = decode(stream, cuts);
    require(chunked == whole, "chunks give the frames and the error the whole stream gives");
    for (const auto& frame : whole.frames) {
        require(frame.opcode != WSOpcode::continuation, "continuations are reassembled");
        require(frame.payload.size() <= WebSocketFramer::maxMessage, "no message over the cap");
        const bool control = frame.opcode == WSOpcode::close || frame.opcode == WSOpcode::ping || frame.opcode == WSOpcode::pong;
        require(!control || frame.payload.size() <= 125, "control frames are short");
    }
    return 0;
}
