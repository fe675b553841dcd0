#include "Ferlow/TrayApp.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <csignal>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

#include "Ferlow/AppDelegate.h"
#include "Ferlow/AppModel.h"
#include "Ferlow/CommandLine.h"
#include "Ferlow/CommandRunner.h"
#include "Ferlow/Console.h"
#include "Ferlow/ControlChannel.h"
#include "Ferlow/InstanceLock.h"
#include "Ferlow/LinuxPlatform.h"
#include "Ferlow/PhoneList.h"
#include "Ferlow/QRCodeView.h"
#include "Ferlow/QtMainContext.h"
#include "Ferlow/ShortcutRecorder.h"
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

void quitOnSignals(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSocket) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// What the other `ferlow` commands ask of the running one (--pair, --list,
// --forget, --agree-terms, --uninstall), answered as `ferlow --headless`
// answers them. Runs on the main context; `finish` runs once the reply
// has gone.
nlohmann::json answer(AppModel& model, AppDelegate& tray, const nlohmann::json& request, std::function<void()>& finish)
{
    const auto field = [&](const char* key) {
        const auto found = request.find(key);
        return found != request.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    const auto failure = [](const std::string& message) { return nlohmann::json {{"ok", false}, {"error", message}}; };
    const std::string operation = field("do");
    if (operation == "pair") {
        const auto offer = model.addPhone();
        if (!offer)
            return failure("cannot make a pairing code for the host name \u201C" + model.localHostName() + "\u201D");
        return {{"ok", true}, {"url", offer->url}, {"id", offer->pairing.id}};
    }
    if (operation == "pairing") {
        const auto pairing = model.store().lookup(field("id"));
        if (!pairing)
            return {{"ok", true}, {"state", "gone"}};
        if (pairing->pending())
            return {{"ok", true}, {"state", "pending"}};
        return {{"ok", true}, {"state", "used"}, {"name", pairing->name}};
    }
    if (operation == "list") {
        model.refresh();
        return {{"ok", true}, {"phones", PhoneList::encode(model.pairings(), model.connectedDevice().has_value())}};
    }
    if (operation == "forget") {
        const auto found = PhoneList::find(model.store().all(), field("phone"));
        if (const auto* problem = std::get_if<std::string>(&found))
            return failure(*problem);
        model.remove(std::get<Pairing>(found));
        return {{"ok", true}, {"name", std::get<Pairing>(found).name}};
    }
    if (operation == "agree-terms") {
        tray.agree();
        if (const auto& error = model.serverError())
            return failure(*error);
        return {{"ok", true}};
    }
    if (operation == "uninstall") {
        const auto steps = model.uninstall();
        finish = [&tray] { tray.quit(); };
        return {{"ok", true}, {"steps", steps}};
    }
    return failure("unknown request \u201C" + operation + "\u201D");
}

} // namespace

int runTrayApp(int argc, char** argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        Console::error("there is no desktop here for Ferlow's tray icon; to run without one: ferlow --headless");
        return CommandLine::failed;
    }
    const auto folder = XdgPaths::supportDirectory();
    if (!XdgPaths::makePrivateDirectory(folder)) {
        Console::error("cannot use the folder " + folder.string());
        return CommandLine::failed;
    }
    // One Ferlow per user, tray or headless: the other commands reach it
    // through its control channel.
    const InstanceLock lock(CommandRunner::lockFile());
    if (lock.outcome() != InstanceLock::Outcome::acquired) {
        Console::error(lock.outcome() == InstanceLock::Outcome::held ? std::string("Ferlow is already running")
                                                                     : lock.problem());
        return CommandLine::failed;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferlow"));
    QApplication::setDesktopFileName(QStringLiteral("ferlow"));
    // The tray icon keeps the app; closing a window only closes it.
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnSignals(app);

    QtMainContext main;
    IOQueue io;
    // The platform's problems (a key file with a mistake, a lost input
    // backend) reach the user through the tray once it is there.
    AppDelegate* shown = nullptr;
    const auto tell = [&main, &shown](const std::string& problem) {
        Console::error(problem);
        main.post([&shown, problem] {
            if (shown)
                shown->tell(problem);
        });
    };
    auto model = std::make_unique<AppModel>(main, io, LinuxPlatform::make(main, tell), AppEnvironment::fromProcess());

    AppDelegate::Options options;
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    options.currentDesktop = desktop ? desktop : "";
    options.translate = ShortcutRecorder::throughProfile(
        KeyProfile::load(KeyProfile::currentDesktop(), KeyProfile::userFilePath()).profile);
    options.qrModules = [](const QString& url) { return QRCodeView::modules(url.toStdString()); };
    options.quit = [] { QApplication::quit(); };

    int status = CommandLine::ok;
    {
        AppDelegate tray(*model, main, std::move(options));
        // Other commands' requests arrive on the I/O queue, which owns the
        // channel, and are answered on the main context, where the model
        // lives; each reply goes back the same way.
        const auto handle = [&main, &io, &tray, &model](const nlohmann::json& request, ControlChannel::Reply reply) {
            main.post([&main, &io, &tray, &model, request, reply = std::move(reply)] {
                std::function<void()> finish;
                auto response = answer(*model, tray, request, finish);
                std::function<void()> sent;
                if (finish)
                    sent = [&main, finish] { main.post(finish); };
                io.post([reply, response = std::move(response), sent = std::move(sent)] { reply(response, sent); });
            });
        };
        std::unique_ptr<ControlChannel> control;
        try {
            io.call([&] {
                control = std::make_unique<ControlChannel>(io.context(), CommandRunner::controlSocket(), handle);
            });
        } catch (const std::exception& failure) {
            Console::error("other ferlow commands cannot reach this one: " + std::string(failure.what()));
        }
        shown = &tray;
        tray.launch();
        status = QApplication::exec();
        shown = nullptr;
        io.call([&] { control.reset(); });
    }
    model.reset(); // ends the sessions while the I/O queue still runs
    return status;
}

} // namespace ferlow
