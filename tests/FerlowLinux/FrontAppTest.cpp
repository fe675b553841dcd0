// The application in front and the screens' layout, as an X server tells them.

#include "FerlowLinux/FrontApp.h"
#include "FerlowLinux/FrontAppWatcher.h"

#include <chrono>
#include <mutex>
#include <memory>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include "FerlowInput/AppShortcuts.h"
#include "FerlowLinux/X11Displays.h"
#include "tests/Support/TestSupport.h"
#include "tests/Support/Xvfb.h"

namespace ferlow {
namespace {

// The class decides, the instance only when the class is unknown; every known class leads to buttons.
TEST(FrontAppTest, WindowClassesMapToTheAppButtonTable)
{
    const std::tuple<const char*, const char*, FrontApp> cases[] = {
        {"Navigator", "firefox", {"org.mozilla.firefox", "Firefox"}},
        {"org.gnome.Nautilus", "Org.gnome.Nautilus", {"com.apple.finder", "Files"}},
        {"libreoffice", "libreoffice-impress", {"com.apple.iWork.Keynote", "LibreOffice Impress"}},
        {"zoom ", "zoom ", {"us.zoom.xos", "Zoom"}},
        {"konsole", "XTerm", {"com.apple.Terminal", "XTerm"}},
        {"spotify", "", {"com.spotify.client", "Spotify"}},
        {"libreoffice", "libreoffice-writer", {std::nullopt, "libreoffice-writer"}},
        {"", "", {std::nullopt, ""}},
    };
    for (const auto& [instance, windowClass, expected] : cases)
        EXPECT_EQ(FrontApp::fromWindowClass(instance, windowClass), expected) << windowClass;

    std::set<std::string_view> classes;
    for (const auto& app : FrontApp::knownApps()) {
        EXPECT_TRUE(classes.insert(app.windowClass).second) << app.windowClass << " listed twice";
        EXPECT_EQ(FrontApp::fromWindowClass("", app.windowClass).bundleID, std::string(app.bundleID)) << app.windowClass;
        EXPECT_TRUE(app.bundleID == FrontApp::ownBundleID || AppShortcuts::context(app.bundleID, "x")) << app.bundleID;
    }
}

// Xlib's own answer to a lost server is exit(): the server vanishes here and nothing ends.
TEST(FrontAppWatcherTest, DeliversEachChangeAndSurvivesAWindowThatIsGoneAndAVanishedServer)
{
    auto xvfb = std::make_unique<test::Xvfb>();
    if (!xvfb->available())
        GTEST_SKIP() << xvfb->reason();
    Display* x = XOpenDisplay(xvfb->display().c_str());
    ASSERT_NE(x, nullptr);
    std::mutex mutex;
    std::vector<FrontApp> delivered;
    const auto watch = [&] {
        return std::make_unique<FrontAppWatcher>([](FrontAppWatcher::Task task) { task(); },
            [&](const FrontApp& app) {
                std::lock_guard lock(mutex);
                delivered.push_back(app);
            },
            xvfb->display());
    };
    const auto nth = [&](std::size_t n) {
        std::optional<FrontApp> app;
        test::eventually([&] {
            std::lock_guard lock(mutex);
            return delivered.size() > n && (app = delivered[n]);
        });
        return app;
    };
    // What a window manager does when focus moves (EWMH).
    const auto activate = [&](Window w) {
        XChangeProperty(x, XDefaultRootWindow(x), XInternAtom(x, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32,
            PropModeReplace, reinterpret_cast<unsigned char*>(&w), 1);
        XSync(x, False);
    };
    const auto window = [&](const char* instance, const char* windowClass) {
        const Window w = XCreateSimpleWindow(x, XDefaultRootWindow(x), 0, 0, 100, 100, 0, 0, 0);
        XClassHint hint {const_cast<char*>(instance), const_cast<char*>(windowClass)};
        XSetClassHint(x, w, &hint);
        return w;
    };

    activate(0x3ffffff); // names a window that no longer exists
    auto watcher = watch();
    // Xlib sends the watcher's event selection together with its first read.
    XWindowAttributes root {};
    for (int tries = 0; tries < 5000 && XGetWindowAttributes(x, XDefaultRootWindow(x), &root)
         && !(root.all_event_masks & PropertyChangeMask);
         ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    activate(window("Navigator", "firefox"));
    EXPECT_EQ(nth(0), (FrontApp {"org.mozilla.firefox", "Firefox"}));
    activate(window("kitty", "kitty"));
    EXPECT_EQ(nth(1), (FrontApp {"com.apple.Terminal", "kitty"}));
    auto second = watch();
    EXPECT_EQ(nth(2), (FrontApp {"com.apple.Terminal", "kitty"}));

    X11Displays displays(xvfb->display());
    XCloseDisplay(x);
    xvfb.reset();
    watcher.reset();
    second.reset();
    for (int i = 0; i < 2; ++i) // the first request after the loss may only fail
        EXPECT_EQ(displays.cursor(), (Point {}));
    EXPECT_FALSE(displays.connected());
    EXPECT_TRUE(displays.layout().rects.empty()) << "without X the clamp passes points through";
}

void setMonitor(Display* x, const char* name, int left, RROutput output)
{
    XRRMonitorInfo* monitor = XRRAllocateMonitor(x, output ? 1 : 0);
    monitor->name = XInternAtom(x, name, False);
    monitor->x = left;
    monitor->width = 1920;
    monitor->height = 1080;
    if (output)
        monitor->outputs[0] = output;
    XRRSetMonitor(x, XDefaultRootWindow(x), monitor);
    XFree(monitor);
}

TEST(X11DisplaysTest, LayoutIsTheRandRMonitorsReadAgainWithTheCursor)
{
    test::Xvfb xvfb("3840x1080x24");
    if (!xvfb.available())
        GTEST_SKIP() << xvfb.reason();
    const std::unique_ptr<Display, decltype(&XCloseDisplay)> x(XOpenDisplay(xvfb.display().c_str()), XCloseDisplay);
    ASSERT_TRUE(x);
    const Window root = XDefaultRootWindow(x.get());
    // Two RandR 1.5 monitors: the left on the only output, the right virtual.
    XRRScreenResources* resources = XRRGetScreenResources(x.get(), root);
    setMonitor(x.get(), "LEFT", 0, resources->outputs[0]);
    setMonitor(x.get(), "RIGHT", 1920, 0);
    XRRFreeScreenResources(resources);
    XSync(x.get(), False);
    const Rect left {{0, 0}, {1920, 1080}}, right {{1920, 0}, {1920, 1080}};

    X11Displays displays(xvfb.display());
    const DisplayLayout layout = displays.layout();
    ASSERT_EQ(layout.rects, (std::vector<Rect> {left, right}));

    XWarpPointer(x.get(), 0, root, 0, 0, 0, 0, 2500, 300);
    XRRDeleteMonitor(x.get(), root, XInternAtom(x.get(), "RIGHT", False));
    XSync(x.get(), False);
    EXPECT_EQ(displays.layout(), layout) << "layout() itself must not ask the server";
    EXPECT_EQ(displays.cursor(), (Point {2500, 300}));
    EXPECT_EQ(displays.layout().rects, (std::vector<Rect> {left}));
}

} // namespace
} // namespace ferlow
