#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FerlowInput/EventPoster.h"
#include "FerlowLinux/KeyProfile.h"
#include "FerlowLinux/LinuxEvent.h"

namespace ferlow {

// The poster the translator talks to on Linux: it turns macOS-level event
// specs into Linux events through a key profile and hands them to one
// backend. Pure logic; it knows nothing of X or uinput.
//
// Keys: a macOS modifier press is held back until the key it modifies
// arrives, and the whole chord is then looked up, so Command-C becomes
// Ctrl+C and Command-Left becomes Home. The Linux modifiers a chord pressed
// stay down while any macOS modifier key is held (Command-Tab's Alt stays
// down while the switcher is open) and go up once the last macOS modifier
// and the last key are released. A pointer button, move or scroll while a
// macOS modifier is held presses that modifier's plain Linux counterpart
// first (Command-click is Ctrl+click). Every press has its release, whatever
// order the specs arrive in; a release of something never pressed posts
// nothing.
//
// Text becomes its backspaces, the characters for the backend to type and
// the Return or Tab after them: plain keys, whatever the application, with
// no macOS modifier pressed for them.
//
// Scrolls become high-resolution wheel units, one detent per 50 pixels; the
// end of a finger phase or of the momentum after it finishes the series;
// magnification becomes Ctrl + whole wheel detents, one per 0.15, the rest
// carried to the next message of the pinch. Rotation, smart zoom, the scroll
// gesture and dock swipes have no Linux counterpart and are dropped, as are
// key codes no PC key stands for and launches of anything but the apps
// launcher.
//
// Not thread-safe: the I/O thread only, like the translator.
class ChordMapper final : public EventPoster {
public:
    static constexpr double pixelsPerDetent = LinuxEvent::pixelsPerDetent;
    static constexpr double magnificationPerDetent = 0.15;
    // One spec never turns the wheel more than this, however large its value.
    static constexpr std::int32_t maxDetentsPerSpec = 100;

    ChordMapper(KeyProfile profile, std::shared_ptr<LinuxEventSink> sink);
    ~ChordMapper() noexcept override = default;

    void post(const std::vector<EventSpec>& specs) override;

    // The bundle identifier of the application in front, for the profile's
    // per-application chords. Takes effect from the next key pressed.
    void setFrontApp(std::string bundleID) { m_app = std::move(bundleID); }

    // Releases every key, modifier and button still held, and forgets the
    // held macOS modifiers; for when input stops altogether.
    void releaseAll();

    const KeyProfile& profile() const { return m_profile; }

private:
    void key(const EventSpec::Key& key);
    void macModifier(std::uint16_t code, bool down);
    void media(const EventSpec::Media& media);
    void mouse(const EventSpec::Mouse& mouse);
    void scroll(const EventSpec::Scroll& scroll);
    void magnify(const EventSpec::Gesture& gesture);
    void launch(const EventSpec::Launch& launch);
    void text(const EventSpec::Text& text);

    std::uint64_t heldMacModifiers() const;
    bool isDown(std::uint16_t linuxKey) const;
    void press(std::uint32_t holder, std::uint16_t linuxKey);
    void release(std::map<std::uint32_t, std::uint16_t>::iterator held);
    void pressModifiers(std::uint8_t linuxModifiers);
    void releaseModifiersWhenIdle();
    void pressHeldMacModifiers();
    void emit(LinuxEvent event) { m_out.push_back(event); }

    KeyProfile m_profile;
    std::shared_ptr<LinuxEventSink> m_sink;
    std::string m_app;

    std::uint16_t m_macModifierKeys = 0;        // bit (code - 54) per macOS modifier key held
    std::uint64_t m_consumed = 0;               // held macOS modifiers already turned into Linux ones
    std::vector<std::uint16_t> m_linuxModifiers; // Linux modifier keys down, in press order
    // What holds each Linux key down: a macOS key code, or mediaHolder plus
    // a media key number. Two holders may share a key; it goes up with the
    // last.
    std::map<std::uint32_t, std::uint16_t> m_keys;
    std::uint8_t m_buttons = 0;                 // bit per LinuxEvent::Button down
    double m_wheelCarryX = 0, m_wheelCarryY = 0;
    double m_magnification = 0;
    std::vector<LinuxEvent> m_out;
};

} // namespace ferlow
