#include "FerlowLinux/InputBackend.h"

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

InputBackend InputBackend::choose(const Options& options)
{
    std::string reasons;
    if (::access(options.uinputPath.c_str(), W_OK) == 0) {
        std::string why;
        std::shared_ptr<UinputPoster> poster = UinputPoster::create(options.uinputPath, options.onLoss, &why);
        if (poster)
            return InputBackend(Kind::uinput, poster, [poster] { return poster->connected(); }, "");
        reasons = "uinput: " + why;
    } else {
        reasons = "uinput: " + options.uinputPath.string() + " is not writable";
    }

    std::string why;
    std::shared_ptr<XTestPoster> poster = XTestPoster::open(options.display, options.onLoss, &why);
    if (poster)
        return InputBackend(Kind::xtest, poster, [poster] { return poster->connected(); }, reasons);
    reasons += "; XTest: " + why;
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
