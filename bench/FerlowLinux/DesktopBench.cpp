// What the desktop readers cost where they are called: the display list on
// every pointer move, the cursor read after a pause, the touchpad settings
// once a second, where phones find the computer at start. The X server is a
// private Xvfb, the bus a private dbus-daemon.

#include <benchmark/benchmark.h>

#include "FerlowLinux/DesktopSettings.h"
#include "FerlowLinux/LocalHostWatcher.h"
#include "FerlowLinux/X11Displays.h"
#include "tests/Support/PrivateBus.h"
#include "tests/Support/TestSupport.h"
#include "tests/Support/Xvfb.h"

namespace ferlow {
namespace {

test::Xvfb& server()
{
    static test::Xvfb xvfb("3840x1080x24");
    return xvfb;
}

void layoutPerMove(benchmark::State& state)
{
    X11Displays displays(server().display());
    Point point {100, 100};
    for (auto _ : state) {
        point.x += 1;
        benchmark::DoNotOptimize(clamp(point, {100, 100}, displays.layout()));
    }
}
BENCHMARK(layoutPerMove);

void cursorAfterQuiet(benchmark::State& state)
{
    X11Displays displays(server().display());
    for (auto _ : state)
        benchmark::DoNotOptimize(displays.cursor());
}
BENCHMARK(cursorAfterQuiet);

void trackpadPrefsKde(benchmark::State& state)
{
    test::TemporaryDirectory home;
    test::writeFile(home.path() / "kcminputrc",
        "[Mouse]\ncursorTheme=breeze\n[Libinput][1267][12850][ELAN0501:00 04F3:3060 Touchpad]\nNaturalScroll=true\n");
    DesktopSettings settings(DesktopSettings::Desktop::kde, home.path() / "kcminputrc");
    for (auto _ : state)
        benchmark::DoNotOptimize(settings.trackpadPrefs());
}
BENCHMARK(trackpadPrefsKde);

// GNOME's schema as installed on this machine, through the default backend.
void trackpadPrefsGnome(benchmark::State& state)
{
    DesktopSettings settings(DesktopSettings::Desktop::other, {});
    for (auto _ : state)
        benchmark::DoNotOptimize(settings.trackpadPrefs());
}
BENCHMARK(trackpadPrefsGnome);

} // namespace
// What the app's start waits for when no Avahi answers: on a bus without it
// (1), and with no bus at all (0). Stopping the watcher is not counted.
void localHostWithoutAvahi(benchmark::State& state)
{
    static test::PrivateBus bus;
    LocalHostWatcher::Options options;
    options.busAddress = state.range(0) ? bus.address() : "unix:path=/nonexistent/bus";
    for (auto _ : state) {
        auto watcher = std::make_unique<LocalHostWatcher>([](LocalHostWatcher::Task) { }, [](const LocalHost&) { }, options);
        benchmark::DoNotOptimize(watcher->first());
        state.PauseTiming();
        watcher.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(localHostWithoutAvahi)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace ferlow
