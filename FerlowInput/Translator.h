#pragma once

#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FerlowCore/ActionButton.h"
#include "FerlowCore/PhoneMessage.h"
#include "FerlowInput/DisplayLayout.h"
#include "FerlowInput/EventSpec.h"
#include "FerlowInput/PointerState.h"

namespace ferlow {

// Turns phone messages into the input events that reproduce them: pointer
// moves clamped to the displays, buttons with drag state, pixel scrolls with
// sub-pixel carry and trackpad phases, pinch/rotate/smart zoom, live or
// emulated dock swipes, system gestures, action buttons (held keys are
// released exactly as they were pressed), an emulated application
// switcher (Command held while Tab steps through the applications) and
// typed text.
//
// Pure logic over the injected clock, pointer reader and display list; it
// posts nothing itself. Not thread-safe: call it, and let it call its
// functions, on the I/O thread only. Nothing here fails: a message that
// carries no input, or refers to nothing, yields an empty list.
class Translator final {
public:
    using LayoutSource = std::function<DisplayLayout()>;
    using CursorSource = std::function<Point()>;
    using Clock = std::function<double()>; // monotonic seconds
    using ActionsSource = std::function<std::vector<ActionButton>()>;

    // How dock swipes reach the desktop: as live swipe events, or emulated
    // by the shortcut the finished swipe stands for (Linux has no live swipe).
    enum class DockSwipes { emulated, live };

    static constexpr double quietBeforeResync = 0.25;
    static constexpr double switcherIdleClose = 1.5;
    static constexpr double emulatedDockThreshold = 0.15;

    Translator(std::shared_ptr<PointerState> pointer, LayoutSource layout, CursorSource cursor, Clock now,
        DockSwipes dockSwipes);

    // The buttons `action` messages refer to: the configured ones followed by
    // the front application's. Replaceable at any time.
    void setActions(ActionsSource actions) { m_actions = std::move(actions); }

    std::vector<EventSpec> translate(const PhoneMessage& message);

    // Closes an application switcher idle for more than 1.5 s (Command up).
    // Call it periodically.
    std::vector<EventSpec> expire();

    const PointerState& pointer() const { return *m_pointer; }
    bool switcherOpen() const { return m_switcherLastPress.has_value(); }
    std::size_t heldActionCount() const { return m_heldKeys.size(); }

private:
    // Takes the translator rather than capturing it, so that a moved
    // translator releases through itself.
    using Release = std::function<std::vector<EventSpec>(Translator&)>;

    void resyncIfQuiet();
    std::vector<EventSpec> move(const PhoneMessage::Move& move);
    std::vector<EventSpec> button(std::int64_t index, bool down, std::int64_t clicks);
    std::vector<EventSpec> scroll(const PhoneMessage::Scroll& scroll);
    std::vector<EventSpec> dock(const PhoneMessage::Dock& dock);
    std::vector<EventSpec> action(const PhoneMessage::Action& action);
    std::vector<EventSpec> pressAction(const ActionButton& button);
    std::vector<EventSpec> keyAction(const std::string& id, std::uint16_t code, std::uint64_t modifiers);
    std::vector<EventSpec> appSwitcher();
    std::vector<EventSpec> text(const PhoneMessage::Text& text);

    std::shared_ptr<PointerState> m_pointer;
    LayoutSource m_layout;
    CursorSource m_cursor;
    Clock m_now;
    double m_scrollRemainderX = 0, m_scrollRemainderY = 0;
    double m_lastPointerEventAt = -std::numeric_limits<double>::infinity();
    DockSwipes m_dockSwipes;
    ActionsSource m_actions;
    std::map<std::string, Release> m_heldKeys; // action id -> what its release posts
    std::optional<double> m_switcherLastPress;
    double m_dockProgress = 0;
    double m_dockLastDelta = 0;
};

} // namespace ferlow
