#include "FerlowInput/ActionStore.h"

#include <algorithm>
#include <set>

#include <nlohmann/json.hpp>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"

namespace ferlow {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t shift = 0x20000, control = 0x40000, command = 0x100000;

ActionButton button(const char* id, const char* title, const char* group, ActionKind kind, bool keep = false)
{
    return ActionButton {id, title, std::move(kind), std::nullopt, keep, std::string(group)};
}

ActionButton key(const char* id, const char* title, const char* group, std::uint16_t code, std::uint64_t modifiers = 0)
{
    return button(id, title, group, ActionKind::key(code, modifiers));
}

ActionButton media(const char* id, const char* title, MediaKey mediaKey)
{
    return button(id, title, "Media", ActionKind::media(mediaKey));
}

std::vector<ActionButton> makeDefaults()
{
    return {
        key("esc", "Esc", "Keys", 53),
        key("up", "\u2191", "Keys", 126),
        key("delete", "Backspace", "Keys", 51), // the Mac's Delete deletes backwards
        key("left", "\u2190", "Keys", 123),
        key("down", "\u2193", "Keys", 125),
        key("right", "\u2192", "Keys", 124),
        key("tab", "Tab", "Keys", 48),
        key("space", "Space", "Keys", 49),
        key("return", "Return", "Keys", 36),
        key("cut", "Cut", "Edit", 7, command),
        key("copy", "Copy", "Edit", 8, command),
        key("paste", "Paste", "Edit", 9, command),
        key("undo", "Undo", "Edit", 6, command),
        key("redo", "Redo", "Edit", 6, command | shift),
        key("selectall", "Select All", "Edit", 0, command),
        key("find", "Find", "Edit", 3, command),
        key("save", "Save", "Edit", 1, command),
        button("switcher", "App Switcher", "Windows", ActionKind::appSwitcher()),
        // Ids are stored and matched in users' files, so they keep the names
        // of the macOS features the buttons stand for. Search is kept despite
        // its clash with the desktop's own search shortcut: opening the search
        // is exactly what the button is for.
        button("spotlight", "Search", "Windows", ActionKind::key(49, command), true),
        button("mc", "Overview", "Windows", ActionKind::gesture(SystemGesture::missionControl)),
        key("minimize", "Minimize", "Windows", 46, command),
        key("fullscreen", "Full Screen", "Windows", 3, command | control),
        button("desktop", "Show Desktop", "Windows", ActionKind::gesture(SystemGesture::showDesktop)),
        key("hide", "Hide", "Windows", 4, command),
        key("close", "Close Window", "Windows", 13, command),
        key("quit", "Quit", "Windows", 12, command),
        media("prev", "Previous", MediaKey::previous),
        media("play", "Play/Pause", MediaKey::playPause),
        media("next", "Next", MediaKey::next),
        media("voldown", "Volume Down", MediaKey::volumeDown),
        media("mute", "Mute", MediaKey::mute),
        media("volup", "Volume Up", MediaKey::volumeUp),
        media("brightdown", "Brightness Down", MediaKey::brightnessDown),
        media("brightup", "Brightness Up", MediaKey::brightnessUp),
    };
}

// Files from before pages: the built-in buttons come from the defaults now,
// the user's own ones move to "More" after them.
std::vector<ActionButton> migrate(std::vector<ActionButton> old)
{
    const auto& defaults = ActionStore::defaults();
    std::set<std::string> builtIn;
    for (const auto& b : defaults)
        builtIn.insert(b.id);
    std::erase_if(old, [&](const ActionButton& b) { return builtIn.contains(b.id); });
    if (old.empty())
        return defaults;
    std::vector<ActionButton> result = defaults;
    for (auto& b : old) {
        b.group = "More";
        result.push_back(std::move(b));
    }
    return result;
}

} // namespace

ActionStore::ActionStore(const fs::path& directory)
    : m_file(directory / "actions.json")
{
}

const std::vector<ActionButton>& ActionStore::defaults()
{
    static const std::vector<ActionButton> list = makeDefaults();
    return list;
}

std::vector<ActionButton> ActionStore::load()
{
    const auto data = m_file.load();
    if (!data)
        return defaults();
    std::vector<ActionButton> buttons;
    try {
        buttons = ActionButton::decodeList(JSONCoding::parse(*data));
    } catch (const std::exception&) {
        m_file.markUndecodable(*data);
        return defaults();
    }
    if (buttons.empty())
        return buttons;
    if (std::any_of(buttons.begin(), buttons.end(), [](const ActionButton& b) { return b.group.has_value(); }))
        return buttons;
    return migrate(std::move(buttons));
}

void ActionStore::save(const std::vector<ActionButton>& buttons)
{
    // nlohmann::json keeps object keys in a sorted map: sorted keys for free.
    const nlohmann::json sorted = ActionButton::encodeList(buttons);
    std::string text;
    try {
        text = sorted.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception& error) {
        throw EncodingError(std::string("invalidValue: ") + error.what());
    }
    m_file.save(asBytes(text));
}

} // namespace ferlow
