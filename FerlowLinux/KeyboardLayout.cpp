#include "FerlowLinux/KeyboardLayout.h"

#include <algorithm>
#include <cstdlib>

#include <gio/gio.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

namespace ferlow {

namespace {

// XKB keycodes are evdev codes plus 8.
constexpr xkb_keycode_t evdevOffset = 8;

struct ContextDeleter {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateDeleter {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

// Keys that select levels while held; lock keys are never pressed.
bool selectsLevels(xkb_keysym_t keysym)
{
    return keysym == XKB_KEY_Shift_L || keysym == XKB_KEY_Shift_R || keysym == XKB_KEY_ISO_Level3_Shift
        || keysym == XKB_KEY_ISO_Level5_Shift;
}

xkb_keysym_t firstKeysym(xkb_keymap* keymap, xkb_keycode_t key)
{
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_num_layouts_for_key(keymap, key) == 0
        || xkb_keymap_key_get_syms_by_level(keymap, key, 0, 0, &syms) != 1)
        return XKB_KEY_NoSymbol;
    return syms[0];
}

std::string firstOf(const std::string& list)
{
    return list.substr(0, list.find(','));
}

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

KeyboardLayout::Names KeyboardLayout::systemNames()
{
    Names names {variable("XKB_DEFAULT_RULES"), variable("XKB_DEFAULT_MODEL"), variable("XKB_DEFAULT_LAYOUT"),
        variable("XKB_DEFAULT_VARIANT"), variable("XKB_DEFAULT_OPTIONS")};
    if (names != Names {})
        return names;

    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (!bus)
        return names;
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(bus, "org.freedesktop.locale1", "/org/freedesktop/locale1",
        "org.freedesktop.DBus.Properties", "GetAll", g_variant_new("(s)", "org.freedesktop.locale1"),
        G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    if (!reply)
        return names;
    g_autoptr(GVariant) properties = g_variant_get_child_value(reply, 0);
    const auto property = [&properties](const char* key) -> std::string {
        const gchar* value = nullptr;
        return g_variant_lookup(properties, key, "&s", &value) && value ? value : "";
    };
    return {"", property("X11Model"), property("X11Layout"), property("X11Variant"), property("X11Options")};
}

std::shared_ptr<const KeyboardLayout> KeyboardLayout::compile(const Names& names, std::string* why)
{
    // The names given are the whole truth: no XKB_DEFAULT_* fills a gap.
    const std::unique_ptr<xkb_context, ContextDeleter> context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    // xkbcommon's own messages would go to stderr; `why` says what failed.
    if (context)
        xkb_context_set_log_level(context.get(), XKB_LOG_LEVEL_CRITICAL);
    const auto field = [](const std::string& value) { return value.empty() ? nullptr : value.c_str(); };
    const xkb_rule_names rmlvo {field(names.rules), field(names.model), field(names.layout), field(names.variant),
        field(names.options)};
    const std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(
        context ? xkb_keymap_new_from_names(context.get(), &rmlvo, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr);
    if (!keymap) {
        if (why)
            *why = "cannot compile the keyboard layout \u201C" + (names.layout.empty() ? "us" : names.layout) + "\u201D";
        return nullptr;
    }

    std::shared_ptr<KeyboardLayout> layout(new KeyboardLayout());
    const auto group = firstOf(names.layout.empty() ? "us" : names.layout);
    const auto variant = firstOf(names.variant);
    layout->m_name = variant.empty() ? group : group + "(" + variant + ")";

    // Which modifier bits a key sets while held: found by pressing it. The
    // keys of a real keyboard come first; XKB also has keys of its own for
    // levels (<LVL3>) that no keyboard sends.
    // Only keys an X server can take too (X keycodes end at 255), so that
    // the text comes out the same in an X11 session.
    const xkb_keycode_t first = std::max(xkb_keymap_min_keycode(keymap.get()), evdevOffset);
    const xkb_keycode_t last = std::min(xkb_keymap_max_keycode(keymap.get()), xkb_keycode_t {255});
    std::vector<xkb_keycode_t> candidates;
    for (const xkb_keycode_t key : {KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_RIGHTALT, KEY_LEFTALT, KEY_CAPSLOCK, KEY_102ND,
             KEY_RIGHTCTRL, KEY_LEFTCTRL, KEY_LEFTMETA, KEY_RIGHTMETA, KEY_COMPOSE})
        candidates.push_back(key + evdevOffset);
    for (xkb_keycode_t key = first; key <= last; ++key)
        candidates.push_back(key);
    layout->m_modifierKeys.assign(xkb_keymap_num_mods(keymap.get()), 0);
    std::uint32_t pressable = 0;
    for (const xkb_keycode_t key : candidates) {
        if (key < first || key > last || !selectsLevels(firstKeysym(keymap.get(), key)))
            continue;
        const std::unique_ptr<xkb_state, StateDeleter> state(xkb_state_new(keymap.get()));
        xkb_state_update_key(state.get(), key, XKB_KEY_DOWN);
        const xkb_mod_mask_t mods = xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED);
        for (std::size_t bit = 0; bit < layout->m_modifierKeys.size() && bit < 32; ++bit) {
            if (!(mods & (1u << bit)) || layout->m_modifierKeys[bit] != 0)
                continue;
            layout->m_modifierKeys[bit] = static_cast<std::uint16_t>(key - evdevOffset);
            pressable |= 1u << bit;
        }
    }

    std::vector<TypingKeymap::KeyLevel> levels;
    for (xkb_keycode_t key = first; key <= last; ++key) {
        if (xkb_keymap_num_layouts_for_key(keymap.get(), key) == 0)
            continue;
        const xkb_level_index_t count = xkb_keymap_num_levels_for_key(keymap.get(), key, 0);
        for (xkb_level_index_t level = 0; level < count; ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap.get(), key, 0, level, &syms) != 1)
                continue;
            xkb_mod_mask_t masks[16];
            const auto found = xkb_keymap_key_get_mods_for_level(keymap.get(), key, 0, level, masks, std::size(masks));
            for (std::size_t i = 0; i < found; ++i)
                levels.push_back({key, masks[i], syms[0]});
        }
    }
    layout->m_keymap = TypingKeymap(levels, pressable);

    for (const auto& level : levels)
        if (TypingKeymap::characterOf(level.keysym) != 0)
            layout->m_keys.push_back(static_cast<std::uint16_t>(level.keycode - evdevOffset));
    for (const auto key : layout->m_modifierKeys)
        if (key != 0)
            layout->m_keys.push_back(key);
    std::sort(layout->m_keys.begin(), layout->m_keys.end());
    layout->m_keys.erase(std::unique(layout->m_keys.begin(), layout->m_keys.end()), layout->m_keys.end());
    return layout;
}

std::optional<KeyboardLayout::Stroke> KeyboardLayout::find(char32_t character) const
{
    const auto stroke = m_keymap.find(character);
    if (!stroke)
        return std::nullopt;
    Stroke found {static_cast<std::uint16_t>(stroke->keycode - evdevOffset), {}};
    for (std::size_t bit = 0; bit < m_modifierKeys.size() && bit < 32; ++bit)
        if (stroke->modifiers & (1u << bit))
            found.modifiers.push_back(m_modifierKeys[bit]);
    return found;
}

} // namespace ferlow
