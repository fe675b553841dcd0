#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/types.h>

#include "FerlowCore/TrackpadPrefs.h"

namespace ferlow {

// The desktop's own touchpad settings, for the pad to imitate. Linux offers
// no gesture settings of the macOS kind, so only natural scrolling is read;
// every other field keeps the built-in value and `fromTrackpad` stays false.
//
// Where it comes from:
// - on KDE Plasma, the touchpad's NaturalScroll in kcminputrc, or off (as
//   Plasma and libinput have it) when the user never changed it;
// - elsewhere, GNOME's org.gnome.desktop.peripherals.touchpad natural-scroll
//   when that schema is installed; else kcminputrc when it says anything;
//   else the built-in default (on).
//
// Read on the main thread when watch() says the setting changed: a GNOME
// read is a lookup in dconf's memory-mapped database, a KDE read is one
// stat() unless the file changed. Not thread-safe.
class DesktopSettings final {
public:
    enum class Desktop { kde, other };

    // Desktop from $XDG_CURRENT_DESKTOP; kcminputrc in $XDG_CONFIG_HOME
    // (default ~/.config).
    static DesktopSettings fromEnvironment();
    static Desktop desktopFrom(std::string_view xdgCurrentDesktop);

    DesktopSettings(Desktop desktop, std::filesystem::path kdeInputConfig);
    ~DesktopSettings();
    DesktopSettings(DesktopSettings&&) noexcept;
    DesktopSettings& operator=(DesktopSettings&&) noexcept;

    TrackpadPrefs trackpadPrefs();

    // Calls `changed`, on a thread of its own, after each change of what
    // trackpadPrefs() reads: GSettings' change signal where GNOME's schema is
    // read, else inotify on the folder of kcminputrc (KDE saves by renaming
    // a new file over the old). Until the returned token goes. Null when
    // there is nothing to follow (no schema and no such folder).
    std::shared_ptr<void> watch(std::function<void()> changed) const;

private:
    struct Gnome;

    std::optional<bool> kdeNaturalScroll();

    Desktop m_desktop;
    std::filesystem::path m_kdeInputConfig;
    std::unique_ptr<Gnome> m_gnome; // absent without the schema

    // kcminputrc as last parsed, and the file identity it was parsed from.
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified {};
        bool operator==(const FileStamp& o) const;
    };
    std::optional<FileStamp> m_kdeStamp;
    std::optional<bool> m_kdeValue;
};

} // namespace ferlow
