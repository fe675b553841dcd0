#include "FerlowLinux/InputBackend.h"

#include <cstdlib>
#include <optional>
#include <string_view>

#include <unistd.h>

#include "FerlowLinux/UinputPoster.h"
#include "FerlowLinux/XTestPoster.h"

namespace ferlow {

namespace {

class DroppingSink final : public LinuxEventSink {
public:
    void post(std::span<const LinuxEvent>) override {}
};

} // namespace

InputBackend::InputBackend(
    Kind kind, std::shared_ptr<LinuxEventSink> sink, std::function<bool()> canInject, std::string reasons)
    : m_kind(kind)
    , m_sink(std::move(sink))
    , m_canInject(std::move(canInject))
    , m_reasons(std::move(reasons))
{
}

InputBackend::Order InputBackend::sessionOrder()
{
    const auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string_view(value ? value : "");
    };
    const auto session = variable("XDG_SESSION_TYPE");
    if (!session.empty())
        return session == "x11" ? Order::xtestFirst : Order::uinputFirst;
    return !variable("DISPLAY").empty() && variable("WAYLAND_DISPLAY").empty() ? Order::xtestFirst : Order::uinputFirst;
}

InputBackend InputBackend::choose(const Options& options)
{
    std::string reasons;
    const auto note = [&reasons](const std::string& why) { reasons += (reasons.empty() ? "" : "; ") + why; };
    const auto tryUinput = [&]() -> std::optional<InputBackend> {
        if (::access(options.uinputPath.c_str(), W_OK) != 0) {
            note("uinput: " + options.uinputPath.string() + " is not writable");
            return std::nullopt;
        }
        std::string why, typing;
        const auto layout = KeyboardLayout::compile(options.layout ? *options.layout : KeyboardLayout::systemNames(), &typing);
        std::shared_ptr<UinputPoster> poster = UinputPoster::create(options.uinputPath, options.onLoss, &why, layout);
        if (!poster) {
            note("uinput: " + why);
            return std::nullopt;
        }
        poster->setUntypedReport(options.untyped);
        InputBackend backend(Kind::uinput, poster, [poster] { return poster->connected(); }, reasons);
        backend.m_canType = layout != nullptr;
        backend.m_typing = layout ? "typing for the keyboard layout " + layout->name() : "no typing: " + typing;
        return backend;
    };
    const auto tryXTest = [&]() -> std::optional<InputBackend> {
        std::string why;
        const auto poster = XTestPoster::open(options.display, options.onLoss, &why);
        if (!poster) {
            note("XTest: " + why);
            return std::nullopt;
        }
        poster->setTyping(options.defer, options.untyped);
        InputBackend backend(Kind::xtest, poster, [poster] { return poster->connected(); }, reasons);
        backend.m_canType = true;
        return backend;
    };

    const bool xtestFirst = options.order == Order::xtestFirst;
    if (auto first = xtestFirst ? tryXTest() : tryUinput())
        return std::move(*first);
    if (auto second = xtestFirst ? tryUinput() : tryXTest())
        return std::move(*second);
    return InputBackend(Kind::none, std::make_shared<DroppingSink>(), [] { return false; }, reasons);
}

std::string_view InputBackend::name() const
{
    switch (m_kind) {
    case Kind::uinput:
        return "uinput";
    case Kind::xtest:
        return "XTest";
    case Kind::none:
        return "none";
    }
    return "none";
}

} // namespace ferlow
