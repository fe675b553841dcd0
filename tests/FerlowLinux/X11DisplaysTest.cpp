#include "FerlowLinux/X11Displays.h"

#include <memory>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "tests/Support/Xvfb.h"

namespace ferlow {
namespace {

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
    // Two RandR 1.5 monitors side by side: the left one takes over the
    // screen's only output, the right one is virtual.
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
