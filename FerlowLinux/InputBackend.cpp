#include "FerlowLinux/InputBackend.h"

#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

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

InputBackend::Session InputBackend::session()
{
    const auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string_view(value ? value : "");
    };
    const auto type = variable("XDG_SESSION_TYPE");
    if (type == "x11")
        return Session::x11;
    if (type == "wayland")
        return Session::wayland;
    if (!type.empty())
        return Session::other;
    if (!variable("WAYLAND_DISPLAY").empty())
        return Session::wayland;
    return variable("DISPLAY").empty() ? Session::other : Session::x11;
}

InputBackend InputBackend::choose(Options options)
{
    std::string reasons;
    const auto note = [&reasons](const std::string& why) { reasons += (reasons.empty() ? "" : "; ") + why; };
    using Attempt = std::function<std::optional<InputBackend>()>;
    const Attempt portal = [&]() -> std::optional<InputBackend> {
        std::string why;
        std::shared_ptr<PortalPoster> poster = PortalPoster::open(std::move(options.portal), &why);
        if (!poster) {
            note("portal: " + why);
            return std::nullopt;
        }
        InputBackend backend(Kind::portal, poster, [poster] { return poster->connected(); }, reasons);
        backend.m_portal = poster;
        backend.m_canType = true;
        return backend;
    };
    const Attempt uinput = [&]() -> std::optional<InputBackend> {
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
    const Attempt xtest = [&]() -> std::optional<InputBackend> {
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

    std::vector<const Attempt*> order;
    switch (options.session) {
    case Session::x11:
        order = {&xtest, &uinput};
        break;
    case Session::wayland:
        order = {&portal, &uinput};
        break;
    case Session::other:
        order = {&uinput, &xtest};
        break;
    }
    for (const auto* attempt : order)
        if (auto backend = (*attempt)())
            return std::move(*backend);
    return InputBackend(Kind::none, std::make_shared<DroppingSink>(), [] { return false; }, reasons);
}

std::string_view InputBackend::name() const
{
    switch (m_kind) {
    case Kind::portal:
        return "portal";
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
