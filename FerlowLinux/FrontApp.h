#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ferlow {

// The application in front, as the per-app buttons know it: the bundle
// identifier of its counterpart in the app button table (absent when it has
// none) and the name to show for it.
struct FrontApp {
    std::optional<std::string> bundleID;
    std::string name;

    bool operator==(const FrontApp&) const = default;

    // What Ferlow's own windows report, so the app can tell them apart.
    static constexpr std::string_view ownBundleID = "app.kelvarn42.ferlow";

    // One row of the window-class table. `windowClass` is lower case.
    struct Known {
        std::string_view windowClass;
        std::string_view bundleID;
        std::string_view name;
    };
    static std::span<const Known> knownApps();

    // Identifies an application by its window's WM_CLASS (ICCCM 4.1.2.5):
    // the class is looked up first, then the instance, both ignoring case.
    // An unknown application keeps its class (else its instance) as its
    // name and has no bundle identifier.
    static FrontApp fromWindowClass(std::string_view instance, std::string_view windowClass);
};

} // namespace ferlow
