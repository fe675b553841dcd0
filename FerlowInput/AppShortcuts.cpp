#include "FerlowInput/AppShortcuts.h"

#include <initializer_list>

namespace ferlow {

namespace {

using B = AppShortcuts::B;

constexpr std::uint64_t shift = 0x20000, control = 0x40000, option = 0x80000, command = 0x100000;

// Virtual key codes of the keys the table uses.
enum Key : std::uint16_t {
    a = 0, s = 1, d = 2, f = 3, h = 4, g = 5, z = 6, c = 8, v = 9, b = 11, w = 13, r = 15, y = 16, t = 17,
    equal = 24, minus = 27, zero = 29, rightBracket = 30, o = 31, leftBracket = 33, i = 34, p = 35, ret = 36,
    l = 37, j = 38, k = 40, slash = 44, n = 45, m = 46, period = 47, tab = 48, space = 49, grave = 50,
    deleteKey = 51, escape = 53, pageUp = 116, pageDown = 121, left = 123, right = 124, up = 126,
};

std::vector<B> browsers()
{
    return {
        B::key("Back", leftBracket, command),
        B::key("Forward", rightBracket, command),
        B::key("Reload", r, command),
        B::key("Previous Tab", tab, control | shift),
        B::key("Next Tab", tab, control),
        B::key("New Tab", t, command),
        B::key("Address", l, command),
        B::key("Reopen Tab", t, shift | command),
        B::key("Close Tab", w, command),
    };
}

std::vector<B> music()
{
    return {
        B::media("Previous", MediaKey::previous),
        B::media("Play/Pause", MediaKey::playPause),
        B::media("Next", MediaKey::next),
        B::media("Volume Down", MediaKey::volumeDown),
        B::media("Mute", MediaKey::mute),
        B::media("Volume Up", MediaKey::volumeUp),
    };
}

std::vector<B> video()
{
    return {
        B::key("Back", left),
        B::key("Play/Pause", space),
        B::key("Forward", right),
        B::media("Volume Down", MediaKey::volumeDown),
        B::media("Mute", MediaKey::mute),
        B::media("Volume Up", MediaKey::volumeUp),
        B::key("Full Screen", f, control | command),
    };
}

std::vector<B> codeEditors()
{
    return {
        B::key("Commands", p, shift | command),
        B::key("Go to File", p, command),
        B::key("Find", f, command),
        B::key("Comment", slash, command),
        B::key("Sidebar", b, command),
        B::key("Terminal", grave, control),
        B::key("Go Back", minus, control),
        B::key("Go Forward", minus, control | shift),
        B::key("Save", s, command),
    };
}

std::vector<B> terminals()
{
    return {
        B::key("Previous Tab", leftBracket, shift | command),
        B::key("\u2191", up),
        B::key("Next Tab", rightBracket, shift | command),
        B::key("Interrupt", c, control),
        B::key("Clear", k, command),
        B::key("Tab", tab),
        B::key("New Tab", t, command),
        B::key("Close Tab", w, command),
        B::key("Return", ret),
    };
}

std::vector<B> finder()
{
    return {
        B::key("Back", leftBracket, command),
        B::key("Parent Folder", up, command),
        B::key("Forward", rightBracket, command),
        B::key("Preview", space),
        B::key("Properties", i, command),
        B::key("Duplicate", d, command),
        B::key("New Folder", n, shift | command),
        B::key("New Window", n, command),
        B::key("Move to Trash", deleteKey, command),
    };
}

std::vector<B> preview()
{
    return {
        B::key("Zoom Out", minus, command),
        B::key("Actual Size", zero, command),
        B::key("Zoom In", equal, command),
        B::key("Previous Page", pageUp),
        B::key("Rotate", r, command),
        B::key("Next Page", pageDown),
        B::key("Annotate", a, shift | command),
    };
}

std::vector<B> mail()
{
    return {
        B::key("New Message", n, command),
        B::key("Reply", r, command),
        B::key("Reply All", r, shift | command),
        B::key("Forward", f, shift | command),
        B::key("Archive", a, control | command),
        B::key("Delete", deleteKey),
        B::key("Get Mail", n, shift | command),
    };
}

std::vector<B> outlook()
{
    return {
        B::key("New Message", n, command),
        B::key("Reply", r, command),
        B::key("Reply All", r, shift | command),
        B::key("Forward", j, command),
        B::key("Delete", deleteKey),
    };
}

std::vector<B> xcode()
{
    return {
        B::key("Build", b, command),
        B::key("Run", r, command),
        B::key("Stop", period, command),
        B::key("Open Quickly", o, shift | command),
        B::key("Find", f, command),
        B::key("Comment", slash, command),
        B::key("Go Back", left, control | command),
        B::key("Go Forward", right, control | command),
        B::key("Save", s, command),
    };
}

std::vector<B> keynote()
{
    return {
        B::key("Previous", left),
        B::key("Play", p, option | command),
        B::key("Next", right),
        B::key("Stop", escape),
    };
}

std::vector<B> teams()
{
    return {
        B::key("Mute", m, shift | command),
        B::key("Camera", o, shift | command),
        B::key("Raise Hand", k, shift | command),
        B::key("Leave", h, shift | command),
    };
}

std::vector<B> zoom()
{
    return {
        B::key("Mute", a, shift | command),
        B::key("Camera", v, shift | command),
        B::key("Share Screen", s, shift | command),
        B::key("Raise Hand", y, option),
        B::key("Leave", w, command),
    };
}

std::vector<B> slack()
{
    return {
        B::key("Back", leftBracket, command),
        B::key("Jump to\u2026", k, command),
        B::key("Forward", rightBracket, command),
        B::key("Unreads", a, shift | command),
        B::key("Threads", t, shift | command),
        B::key("Search", g, command),
    };
}

using Table = std::map<std::string, std::vector<B>, std::less<>>;

void add(Table& table, std::initializer_list<const char*> bundleIDs, const std::vector<B>& buttons)
{
    for (const char* id : bundleIDs)
        table.emplace(id, buttons);
}

Table makeTable()
{
    Table table;
    add(table,
        {"com.apple.Safari", "com.google.Chrome", "company.thebrowser.Browser", "com.microsoft.edgemac",
            "org.mozilla.firefox", "com.brave.Browser"},
        browsers());
    add(table, {"com.apple.Music", "com.spotify.client", "com.apple.podcasts"}, music());
    add(table, {"com.apple.TV", "com.apple.QuickTimePlayerX", "com.colliderli.iina", "org.videolan.vlc"}, video());
    add(table, {"com.microsoft.VSCode", "com.todesktop.230313mzl4w4u92"}, codeEditors());
    add(table, {"com.apple.Terminal", "com.googlecode.iterm2"}, terminals());
    add(table, {"com.apple.finder"}, finder());
    add(table, {"com.apple.Preview"}, preview());
    add(table, {"com.apple.mail"}, mail());
    add(table, {"com.microsoft.Outlook"}, outlook());
    add(table, {"com.apple.dt.Xcode"}, xcode());
    add(table, {"com.apple.iWork.Keynote"}, keynote());
    add(table, {"com.microsoft.teams2"}, teams());
    add(table, {"us.zoom.xos"}, zoom());
    add(table, {"com.tinyspeck.slackmacgap"}, slack());
    return table;
}

} // namespace

const std::map<std::string, std::vector<B>, std::less<>>& AppShortcuts::table()
{
    static const Table table = makeTable();
    return table;
}

std::optional<AppContext> AppShortcuts::context(std::string_view bundleID, const std::string& name)
{
    const auto& all = table();
    const auto found = all.find(bundleID);
    if (found == all.end())
        return std::nullopt;
    AppContext context {name, {}};
    context.actions.reserve(found->second.size());
    for (std::size_t index = 0; index < found->second.size(); ++index) {
        const auto& entry = found->second[index];
        context.actions.push_back(
            ActionButton {"app." + std::to_string(index), std::string(entry.title), entry.kind, std::nullopt, false, name});
    }
    return context;
}

} // namespace ferlow
