#include "FerlowLinux/UinputPoster.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>

#include "FerlowCore/UTF8.h"
#include "FerlowLinux/LinuxKeys.h"

namespace ferlow {

struct UinputPoster::Device {
    int fd = -1;
    libevdev* description = nullptr;
    libevdev_uinput* uinput = nullptr;

    ~Device()
    {
        if (uinput)
            libevdev_uinput_destroy(uinput);
        if (description)
            libevdev_free(description);
        if (fd >= 0)
            ::close(fd);
    }
};

namespace {

bool isModifierKey(std::uint16_t key)
{
    switch (key) {
    case KEY_LEFTCTRL: case KEY_RIGHTCTRL: case KEY_LEFTSHIFT: case KEY_RIGHTSHIFT:
    case KEY_LEFTALT: case KEY_RIGHTALT: case KEY_LEFTMETA: case KEY_RIGHTMETA:
        return true;
    default:
        return false;
    }
}

} // namespace

std::unique_ptr<UinputPoster> UinputPoster::create(const std::filesystem::path& uinputPath, LossReport onLoss,
    std::string* why, std::shared_ptr<const KeyboardLayout> layout)
{
    auto device = std::make_unique<Device>();
    auto fail = [&](const std::string& reason, int error) -> std::unique_ptr<UinputPoster> {
        if (why)
            *why = reason + ": " + std::strerror(error);
        return nullptr;
    };
    device->fd = ::open(uinputPath.c_str(), O_RDWR | O_CLOEXEC);
    if (device->fd < 0)
        return fail("cannot open " + uinputPath.string(), errno);

    device->description = libevdev_new();
    if (!device->description)
        return fail("cannot describe the virtual device", ENOMEM);
    libevdev* d = device->description;
    libevdev_set_name(d, std::string(deviceName).c_str());
    libevdev_set_id_bustype(d, BUS_VIRTUAL);
    libevdev_enable_event_type(d, EV_REL);
    for (const unsigned axis : {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES})
        libevdev_enable_event_code(d, EV_REL, axis, nullptr);
    libevdev_enable_event_type(d, EV_KEY);
    for (const unsigned button : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
        libevdev_enable_event_code(d, EV_KEY, button, nullptr);
    for (const auto& row : LinuxKeys::all())
        libevdev_enable_event_code(d, EV_KEY, row.evdev, nullptr);
    if (layout)
        for (const auto key : layout->keys())
            libevdev_enable_event_code(d, EV_KEY, key, nullptr);

    const int created = libevdev_uinput_create_from_device(d, device->fd, &device->uinput);
    if (created < 0)
        return fail("cannot create the virtual input device through " + uinputPath.string(), -created);

    libevdev_uinput* uinput = device->uinput;
    auto poster = std::make_unique<UinputPoster>(
        [uinput](std::uint16_t type, std::uint16_t code, std::int32_t value) {
            return libevdev_uinput_write_event(uinput, type, code, value) == 0;
        },
        std::move(onLoss), std::move(layout));
    poster->m_device = std::move(device);
    return poster;
}

UinputPoster::UinputPoster(Writer writer, LossReport onLoss, std::shared_ptr<const KeyboardLayout> layout)
    : m_writer(std::move(writer))
    , m_onLoss(std::move(onLoss))
    , m_layout(std::move(layout))
{
}

UinputPoster::~UinputPoster() noexcept = default;

std::string UinputPoster::devicePath() const
{
    const char* node = m_device ? libevdev_uinput_get_devnode(m_device->uinput) : nullptr;
    return node ? node : "";
}

bool UinputPoster::write(std::uint16_t type, std::uint16_t code, std::int32_t value)
{
    if (m_writer(type, code, value))
        return true;
    if (!m_lost.exchange(true, std::memory_order_relaxed) && m_onLoss)
        m_onLoss("The virtual input device has gone away; Ferlow no longer posts input through it.");
    return false;
}

// The kernel's rule for high-resolution wheels (input-event-codes.rst): send
// the fine units, and the classic axis once they add up to whole detents,
// for readers that know only that one.
bool UinputPoster::wheel(std::int32_t units, std::int32_t& carry, std::uint16_t hiRes, std::uint16_t classic)
{
    if (units == 0)
        return true;
    if ((carry > 0 && units < 0) || (carry < 0 && units > 0))
        carry = 0;
    const std::int64_t total = std::int64_t(carry) + units;
    const std::int64_t detents = total / LinuxEvent::unitsPerDetent;
    carry = static_cast<std::int32_t>(total - detents * LinuxEvent::unitsPerDetent);
    if (!write(EV_REL, hiRes, units))
        return false;
    return detents == 0 || write(EV_REL, classic, static_cast<std::int32_t>(detents));
}

void UinputPoster::post(std::span<const LinuxEvent> events)
{
    for (const auto& event : events) {
        if (m_lost.load(std::memory_order_relaxed))
            return;
        bool wrote = false;
        if (const auto* motion = event.as<LinuxEvent::Motion>()) {
            wrote = (motion->dx == 0 || write(EV_REL, REL_X, motion->dx))
                && (motion->dy == 0 || write(EV_REL, REL_Y, motion->dy)) && (motion->dx != 0 || motion->dy != 0);
        } else if (const auto* button = event.as<LinuxEvent::PointerButton>()) {
            static constexpr std::uint16_t codes[] = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};
            wrote = write(EV_KEY, codes[static_cast<int>(button->button)], button->down ? 1 : 0);
        } else if (const auto* w = event.as<LinuxEvent::Wheel>()) {
            wrote = wheel(w->vertical, m_carryVertical, REL_WHEEL_HI_RES, REL_WHEEL)
                && wheel(w->horizontal, m_carryHorizontal, REL_HWHEEL_HI_RES, REL_HWHEEL)
                && (w->vertical != 0 || w->horizontal != 0);
        } else if (const auto* key = event.as<LinuxEvent::Key>()) {
            // Only keys the device announced; anything else would be refused.
            if (LinuxKeys::byCode(key->code))
                reportKey(key->code, key->down);
        } else if (const auto* text = event.as<LinuxEvent::Text>()) {
            typeText(text->utf8);
        }
        // One report per event, so that a key and the pointer never share a
        // frame whose order a reader may not keep.
        if (wrote)
            write(EV_SYN, SYN_REPORT, 0);
    }
}

// One key change in a report of its own, remembering which modifier keys
// the device holds.
bool UinputPoster::reportKey(std::uint16_t key, bool down)
{
    if (!write(EV_KEY, key, down ? 1 : 0))
        return false;
    if (isModifierKey(key)) {
        std::erase(m_heldModifiers, key);
        if (down)
            m_heldModifiers.push_back(key);
    }
    return write(EV_SYN, SYN_REPORT, 0);
}

bool UinputPoster::typeText(const std::string& utf8)
{
    if (!m_layout)
        return false;
    const auto held = m_heldModifiers;
    for (const auto key : held)
        reportKey(key, false);
    std::u32string skipped;
    for (const char32_t character : UTF8::codePoints(utf8)) {
        if (m_lost.load(std::memory_order_relaxed))
            return false;
        const auto stroke = m_layout->find(character);
        if (!stroke) {
            skipped.push_back(character);
            continue;
        }
        for (const auto modifier : stroke->modifiers)
            reportKey(modifier, true);
        reportKey(stroke->key, true);
        reportKey(stroke->key, false);
        for (auto modifier = stroke->modifiers.rbegin(); modifier != stroke->modifiers.rend(); ++modifier)
            reportKey(*modifier, false);
    }
    for (const auto key : held)
        reportKey(key, true);
    m_skipped += skipped.size();
    if (!skipped.empty() && m_untyped)
        m_untyped(TypingKeymap::distinct(skipped));
    return !m_lost.load(std::memory_order_relaxed);
}

} // namespace ferlow
