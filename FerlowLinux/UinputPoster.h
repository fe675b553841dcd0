#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FerlowLinux/KeyboardLayout.h"
#include "FerlowLinux/LinuxEvent.h"

namespace ferlow {

// Posts Linux events through a virtual input device made with the kernel's
// uinput, so they reach X11 and Wayland desktops alike. The device, "Ferlow
// virtual input", is one relative pointer (left, right and middle button,
// high-resolution and classic wheels) and a keyboard with every key of
// LinuxKeys. The pointer moves by the phone's delta: a Wayland desktop does
// not let a client read the pointer's position back.
//
// The desktop's pointer acceleration applies to this device as to any
// mouse. Nothing on the device's side can switch it off: libinput takes the
// acceleration profile only from the compositor, whose setting is either
// for all mice (GNOME) or per device by name (KDE's mouse settings; on X11
// the libinput driver's "libinput Accel Profile Enabled" property), where
// the user can choose "flat" for this device.
//
// Text is typed as the key positions that `layout` gives each character,
// with the modifier keys its level needs, and Ferlow's own held modifiers
// let go for it; the desktop turns positions back into characters with its
// own layout, so the text comes out right where that is the same one. A
// character the layout has no key for is skipped, counted and told to the
// untyped report. Without a layout, text is not typed at all.
//
// When a write fails (the device was removed), posting becomes a no-op and
// `onLoss` is called once with a sentence to show. Used on one thread (the
// I/O thread) only, except connected().
class UinputPoster final : public LinuxEventSink {
public:
    using LossReport = std::function<void(const std::string& message)>;
    // Writes one evdev event; false when the device refused it.
    using Writer = std::function<bool(std::uint16_t type, std::uint16_t code, std::int32_t value)>;

    static constexpr std::string_view deviceName = "Ferlow virtual input";

    // Told, on the posting thread, the characters of a text no key could type.
    using UntypedReport = std::function<void(const std::string& characters)>;

    // Creates the device through `uinputPath` (normally /dev/uinput), with
    // the keys `layout` types on besides those of LinuxKeys. Null when that
    // fails, with the reason in `why` when given.
    static std::unique_ptr<UinputPoster> create(const std::filesystem::path& uinputPath, LossReport onLoss,
        std::string* why = nullptr, std::shared_ptr<const KeyboardLayout> layout = nullptr);

    // A poster that hands its evdev events to `writer`.
    explicit UinputPoster(Writer writer, LossReport onLoss = {}, std::shared_ptr<const KeyboardLayout> layout = nullptr);
    ~UinputPoster() noexcept override;
    UinputPoster(const UinputPoster&) = delete;
    UinputPoster& operator=(const UinputPoster&) = delete;

    void post(std::span<const LinuxEvent> events) override;

    bool connected() const { return !m_lost.load(std::memory_order_relaxed); }
    void setUntypedReport(UntypedReport report) { m_untyped = std::move(report); }
    // Characters skipped so far because the layout has no key for them.
    std::size_t skippedCharacters() const { return m_skipped; }
    // The device's node under /dev/input; empty for a poster made on a writer.
    std::string devicePath() const;

private:
    struct Device;

    bool write(std::uint16_t type, std::uint16_t code, std::int32_t value);
    bool wheel(std::int32_t units, std::int32_t& carry, std::uint16_t hiRes, std::uint16_t classic);
    bool typeText(const std::string& utf8);
    bool reportKey(std::uint16_t key, bool down);

    std::unique_ptr<Device> m_device;
    Writer m_writer;
    LossReport m_onLoss;
    std::atomic<bool> m_lost {false};
    std::int32_t m_carryVertical = 0, m_carryHorizontal = 0;
    std::shared_ptr<const KeyboardLayout> m_layout;
    UntypedReport m_untyped;
    std::size_t m_skipped = 0;
    std::vector<std::uint16_t> m_heldModifiers; // modifier keys this device holds down
};

} // namespace ferlow
