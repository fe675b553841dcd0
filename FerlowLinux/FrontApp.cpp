#include "FerlowLinux/FrontApp.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "FerlowCore/ASCII.h"

namespace ferlow {

namespace {

constexpr std::string_view firefox = "org.mozilla.firefox";
constexpr std::string_view chrome = "com.google.Chrome";
constexpr std::string_view music = "com.apple.Music";
constexpr std::string_view podcasts = "com.apple.podcasts";
constexpr std::string_view quickTime = "com.apple.QuickTimePlayerX";
constexpr std::string_view iina = "com.colliderli.iina";
constexpr std::string_view vsCode = "com.microsoft.VSCode";
constexpr std::string_view terminal = "com.apple.Terminal";
constexpr std::string_view finder = "com.apple.finder";
constexpr std::string_view preview = "com.apple.Preview";
constexpr std::string_view mail = "com.apple.mail";
constexpr std::string_view teams = "com.microsoft.teams2";

// WM_CLASS values as the applications set them on X11, lower-cased, with
// the app button table entry whose buttons suit them. Where the table names
// a macOS-only app, the desktop's usual application of the same kind stands
// in for it (GNOME Web for Safari, Videos for QuickTime Player, mpv and its
// front ends for IINA, LibreOffice Impress for Keynote). Several classes
// per application where versions or packages differ.
constexpr std::array known = std::to_array<FrontApp::Known>({
    // Browsers
    {"firefox", firefox, "Firefox"},
    {"firefox-esr", firefox, "Firefox ESR"},
    {"google-chrome", chrome, "Google Chrome"},
    {"chromium", chrome, "Chromium"},
    {"chromium-browser", chrome, "Chromium"},
    {"vivaldi-stable", chrome, "Vivaldi"},
    {"opera", chrome, "Opera"},
    {"microsoft-edge", "com.microsoft.edgemac", "Microsoft Edge"},
    {"brave-browser", "com.brave.Browser", "Brave"},
    {"epiphany", "com.apple.Safari", "Web"},
    {"org.gnome.epiphany", "com.apple.Safari", "Web"},
    // Music and podcasts
    {"spotify", "com.spotify.client", "Spotify"},
    {"rhythmbox", music, "Rhythmbox"},
    {"gnome-music", music, "Music"},
    {"org.gnome.music", music, "Music"},
    {"elisa", music, "Elisa"},
    {"strawberry", music, "Strawberry"},
    {"audacious", music, "Audacious"},
    {"gnome-podcasts", podcasts, "Podcasts"},
    {"org.gnome.podcasts", podcasts, "Podcasts"},
    {"gpodder", podcasts, "gPodder"},
    // Video players
    {"vlc", "org.videolan.vlc", "VLC"},
    {"totem", quickTime, "Videos"},
    {"org.gnome.totem", quickTime, "Videos"},
    {"dragon", quickTime, "Dragon Player"},
    {"org.kde.dragonplayer", quickTime, "Dragon Player"},
    {"mpv", iina, "mpv"},
    {"celluloid", iina, "Celluloid"},
    {"io.github.celluloid_player.celluloid", iina, "Celluloid"},
    {"haruna", iina, "Haruna"},
    // Code editors
    {"code", vsCode, "Visual Studio Code"},
    {"code-oss", vsCode, "Code - OSS"},
    {"vscodium", vsCode, "VSCodium"},
    {"cursor", "com.todesktop.230313mzl4w4u92", "Cursor"},
    // Terminals
    {"gnome-terminal", terminal, "Terminal"},
    {"gnome-terminal-server", terminal, "Terminal"},
    {"org.gnome.console", terminal, "Console"},
    {"kgx", terminal, "Console"},
    {"org.gnome.ptyxis", terminal, "Ptyxis"},
    {"konsole", terminal, "Konsole"},
    {"yakuake", terminal, "Yakuake"},
    {"kitty", terminal, "kitty"},
    {"xterm", terminal, "XTerm"},
    {"uxterm", terminal, "UXTerm"},
    {"alacritty", terminal, "Alacritty"},
    {"org.wezfurlong.wezterm", terminal, "WezTerm"},
    {"xfce4-terminal", terminal, "Xfce Terminal"},
    {"mate-terminal", terminal, "MATE Terminal"},
    {"lxterminal", terminal, "LXTerminal"},
    {"qterminal", terminal, "QTerminal"},
    {"tilix", terminal, "Tilix"},
    {"terminator", terminal, "Terminator"},
    {"guake", terminal, "Guake"},
    {"urxvt", terminal, "URxvt"},
    {"st-256color", terminal, "st"},
    // File managers
    {"org.gnome.nautilus", finder, "Files"},
    {"nautilus", finder, "Files"},
    {"dolphin", finder, "Dolphin"},
    {"nemo", finder, "Nemo"},
    {"thunar", finder, "Thunar"},
    {"caja", finder, "Caja"},
    {"pcmanfm", finder, "PCManFM"},
    {"pcmanfm-qt", finder, "PCManFM-Qt"},
    // Document and image viewers
    {"evince", preview, "Document Viewer"},
    {"org.gnome.evince", preview, "Document Viewer"},
    {"org.gnome.papers", preview, "Papers"},
    {"okular", preview, "Okular"},
    {"atril", preview, "Atril"},
    {"eog", preview, "Image Viewer"},
    {"org.gnome.loupe", preview, "Image Viewer"},
    {"gwenview", preview, "Gwenview"},
    // Mail
    {"thunderbird", mail, "Thunderbird"},
    {"thunderbird-esr", mail, "Thunderbird"},
    {"evolution", mail, "Evolution"},
    {"geary", mail, "Geary"},
    {"org.gnome.geary", mail, "Geary"},
    {"kmail", mail, "KMail"},
    {"kmail2", mail, "KMail"},
    // Presentations and meetings
    {"libreoffice-impress", "com.apple.iWork.Keynote", "LibreOffice Impress"},
    {"teams-for-linux", teams, "Teams"},
    {"microsoft teams - preview", teams, "Microsoft Teams"},
    {"zoom", "us.zoom.xos", "Zoom"},
    {"slack", "com.tinyspeck.slackmacgap", "Slack"},
    // Ferlow itself
    {"ferlow", FrontApp::ownBundleID, "Ferlow"},
});

std::string lowerTrimmed(std::string_view text)
{
    // Some applications pad their class with spaces.
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    return lowerASCII(text);
}

const FrontApp::Known* find(std::string_view name)
{
    const std::string key = lowerTrimmed(name);
    if (key.empty())
        return nullptr;
    const auto found
        = std::find_if(known.begin(), known.end(), [&](const FrontApp::Known& k) { return k.windowClass == key; });
    return found == known.end() ? nullptr : &*found;
}

} // namespace

std::span<const FrontApp::Known> FrontApp::knownApps()
{
    return known;
}

FrontApp FrontApp::fromWindowClass(std::string_view instance, std::string_view windowClass)
{
    const Known* app = find(windowClass);
    if (!app)
        app = find(instance);
    if (app)
        return {std::string(app->bundleID), std::string(app->name)};
    return {std::nullopt, std::string(windowClass.empty() ? instance : windowClass)};
}

} // namespace ferlow
