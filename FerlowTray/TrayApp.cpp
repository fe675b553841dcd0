#include "FerlowTray/TrayApp.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "FerlowTray/AppDelegate.h"
#include "Ferlow/AppModel.h"
#include "Ferlow/CommandLine.h"
#include "Ferlow/CommandRunner.h"
#include "Ferlow/RuntimeFiles.h"
#include "Ferlow/Console.h"
#include "Ferlow/ControlChannel.h"
#include "Ferlow/ControlRequests.h"
#include "Ferlow/InstanceLock.h"
#include "Ferlow/LinuxPlatform.h"
#include "FerlowTray/QRCodeView.h"
#include "FerlowLinux/XConnection.h"
#include "FerlowTray/QtMainContext.h"
#include "FerlowTray/ShortcutRecorder.h"
#include "FerlowHost/IOQueue.h"
#include "FerlowLinux/KeyProfile.h"
#include "FerlowLinux/XdgPaths.h"

namespace ferlow {

namespace {

// SIGINT and SIGTERM end the Qt event loop through a socket pair, the one
// thing a signal handler may safely touch.
int signalSocket[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalSocket[0], &byte, 1);
}

void quitOnSignals(QApplication& app, std::function<void()> quit)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSocket) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [quit = std::move(quit)] {
        // Drained, or the notifier would fire again at once, for ever.
        char bytes[16];
        while (::read(signalSocket[1], bytes, sizeof bytes) > 0) {
        }
        quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool isSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && *value;
}

// Whether the Wayland compositor $WAYLAND_DISPLAY names takes connections:
// a socket by that name in $XDG_RUNTIME_DIR, or at that path.
bool waylandReachable()
{
    const std::filesystem::path name = std::getenv("WAYLAND_DISPLAY");
    const auto runtime = XdgPaths::runtimeHome();
    const auto path = name.is_absolute() || !runtime ? name : *runtime / name;
    sockaddr_un address {};
    if (path.native().size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    path.native().copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool reached = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return reached;
}

// Whether Qt will find a desktop to show the tray on. Without one Qt aborts
// the process, so a display named but not reachable (a stale $DISPLAY over
// ssh, a $WAYLAND_DISPLAY left from a session that ended) is tried first.
bool desktopReachable()
{
    if (isSet("QT_QPA_PLATFORM"))
        return true;
    if (isSet("WAYLAND_DISPLAY") && waylandReachable())
        return true;
    return isSet("DISPLAY") && XConnection().usable();
}

} // namespace

int runTrayApp(int argc, char** argv)
{
    if (!desktopReachable()) {
        Console::error("there is no desktop here for Ferlow's tray icon; to run without one: ferlow --headless");
        return CommandLine::failed;
    }
    const auto folder = XdgPaths::supportDirectory();
    if (!XdgPaths::makePrivateDirectory(folder)) {
        Console::error("cannot use the folder " + folder.string());
        return CommandLine::failed;
    }
    if (const auto problem = RuntimeFiles::prepare()) {
        Console::error(*problem);
        return CommandLine::failed;
    }
    // One Ferlow per user, tray or headless: the other commands reach it
    // through its control channel, and so does a second launch.
    const InstanceLock lock(RuntimeFiles::lockFile(), RuntimeFiles::gateFile(), InstanceLock::Role::app);
    if (lock.outcome() == InstanceLock::Outcome::held)
        return CommandRunner::showRunningInstance();
    if (lock.outcome() != InstanceLock::Outcome::acquired) {
        Console::error(lock.problem());
        return CommandLine::failed;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferlow"));
    QApplication::setDesktopFileName(QStringLiteral("ferlow"));
    // The tray icon keeps the app; closing a window only closes it.
    QApplication::setQuitOnLastWindowClosed(false);
    // Set once the tray is up; its quit lets the terms window close.
    AppDelegate* shown = nullptr;
    quitOnSignals(app, [&shown] {
        if (shown)
            shown->quit();
        else
            QCoreApplication::exit(CommandLine::ok);
    });

    QtMainContext main;
    IOQueue io;
    // The platform's problems (a key file with a mistake, a lost input
    // backend) reach the user through the tray once it is there.
    const auto tell = [&main, &shown](const std::string& problem) {
        Console::error(problem);
        main.post([&shown, problem] {
            if (shown)
                shown->tell(problem);
        });
    };
    auto model = std::make_unique<AppModel>(main, io, LinuxPlatform::make(main, io, tell), AppEnvironment::fromProcess());
    for (const auto& kept : model->keptAside())
        Console::showKeptAside(kept);

    AppDelegate::Options options;
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    options.currentDesktop = desktop ? desktop : "";
    options.translate = ShortcutRecorder::throughProfile(
        KeyProfile::load(KeyProfile::currentDesktop(), KeyProfile::userFilePath()).profile);
    options.qrModules = [](const QString& url) { return QRCodeView::modules(url.toStdString()); };
    // The phones are let go first, waited for only so long. Not
    // QApplication::quit(), which any window that keeps itself open (the
    // terms window) can refuse.
    options.quit = [&model, quitting = false]() mutable {
        if (std::exchange(quitting, true))
            return;
        const auto exit = [] { QCoreApplication::exit(CommandLine::ok); };
        model->stop(exit);
        QTimer::singleShot(static_cast<int>(AppModel::stopPatience * 1000), exit);
    };

    int status = CommandLine::ok;
    {
        AppDelegate tray(*model, main, std::move(options));
        // Agreeing from the command line also closes the terms window.
        ControlRequests requests(
            *model, {[&tray] { tray.agree(); }, [&tray] { tray.quit(); }, [&tray] { tray.showStatus(); }});
        // Other commands' requests arrive on the I/O queue, which owns the
        // channel, and are answered on the main context, where the model
        // lives; each reply goes back the same way.
        const auto handle = [&main, &io, &requests](const nlohmann::json& request, ControlChannel::Reply reply) {
            main.post([&main, &io, &requests, request, reply = std::move(reply)] {
                requests.answer(request, [&main, &io, reply](ControlRequests::Answer answer) {
                    std::function<void()> sent;
                    if (answer.afterReply)
                        sent = [&main, finish = std::move(answer.afterReply)] { main.post(finish); };
                    io.post([reply, response = std::move(answer.reply), sent = std::move(sent)] { reply(response, sent); });
                });
            });
        };
        std::unique_ptr<ControlChannel> control;
        try {
            io.call([&] {
                control = std::make_unique<ControlChannel>(io.context(), RuntimeFiles::controlSocket(), handle);
            });
        } catch (const std::exception& failure) {
            Console::error("other ferlow commands cannot reach this one: " + std::string(failure.what()));
        }
        shown = &tray;
        tray.launch();
        status = QApplication::exec();
        shown = nullptr;
        try {
            io.call([&] { control.reset(); }, std::chrono::milliseconds(500));
        } catch (const std::exception&) {
            // The I/O queue is stuck (in a display server that stopped
            // answering, say): the channel ends with the process.
            static_cast<void>(control.release());
        }
    }
    model.reset(); // before the I/O queue, which still runs what the model left it
    return status;
}

} // namespace ferlow
