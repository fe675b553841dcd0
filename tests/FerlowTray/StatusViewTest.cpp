// The status popup on a real model.

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "FerlowTray/StatusView.h"
#include "tests/FerlowTray/TrayFixture.h"

namespace ferlow {
namespace {

using test::TrayFixture;

StatusView::Actions noActions() { return {[] { }, [] { }, [] { }, [] { }, [] { }}; }

QString labelText(const QWidget& view, const char* name)
{
    return view.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

QStringList visibleNotices(const QWidget& view)
{
    QStringList texts;
    for (const auto* label : view.findChildren<QLabel*>(QStringLiteral("notice")))
        if (label->parentWidget()->isVisibleTo(&view))
            texts << label->text();
    return texts;
}

TEST(StatusView, HeaderAndNoticesFollowTheFirstRuleThatApplies)
{
    using Tone = StatusView::Tone;
    struct Case {
        const char* name;
        std::function<void(TrayFixture&)> arrange;
        QString text, detail;
        Tone tone;
        QStringList notices;
    };
    const QString unpaired = "No phone paired yet", openIt = "Open Ferlow on your phone";
    const Case cases[] {
        {"nothing paired", [](TrayFixture&) { }, unpaired, openIt, Tone::secondary, {}},
        {"paired, away", [](TrayFixture& f) { f.usedPairing("Pixel"); }, "Waiting for your phone", openIt, Tone::secondary, {}},
        {"no permission", [](TrayFixture& f) { f.permissions->trusted = false, f.model->checkPermission(); }, unpaired,
            "Permission needed", Tone::orange, {"Ferlow needs permission to move the pointer."}},
        // An available update is only a notice; the header stays as it was.
        {"update available", [](TrayFixture& f) { f.model->updateChanged(UpdateStatus::available("2.0")); }, unpaired,
            openIt, Tone::secondary, {"Ferlow 2.0 is available."}},
        {"update required", [](TrayFixture& f) { f.usedPairing("Pixel"), f.model->updateChanged(UpdateStatus::required("3.0")); },
            "Update needed", openIt, Tone::orange,
            {"Update to Ferlow 3.0 to keep using your phone. This version has stopped working."}},
        {"terms needed", [](TrayFixture& f) { f.model->releaseSeen(test::newerTerms()); }, unpaired, openIt,
            Tone::secondary, {"Agree to the Terms of Use to start using Ferlow."}},
        {"no mDNS name", [](TrayFixture& f) { f.model->start(), f.moveTo({"192.168.1.20", false}); }, unpaired, openIt,
            Tone::secondary, {"Phones reach this computer by its address. Install avahi-daemon so they can use its name."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TrayFixture fixture;
        c.arrange(fixture);
        StatusView view(*fixture.model, noActions(), PairingStore::systemClock);
        EXPECT_EQ(labelText(view, "statusText"), c.text);
        EXPECT_EQ(labelText(view, "statusDetail"), c.detail);
        EXPECT_EQ(StatusView::statusTone(*fixture.model), c.tone);
        EXPECT_EQ(visibleNotices(view), c.notices);
    }
}

// A busy port says so in orange and offers the next port; "80" (below 1024)
// and "abc" change nothing, a free port moves the server and is remembered.
TEST(StatusView, PortEditorAcceptsOnlyUsablePorts)
{
    TrayFixture fixture;
    auto& model = *fixture.model;
    const auto busy = model.port();
    StatusView view(model, noActions(), PairingStore::systemClock);
    auto* field = view.findChild<QLineEdit*>(QStringLiteral("port"));
    auto* use = view.findChild<QPushButton*>(QStringLiteral("usePort"));

    asio::io_context io;
    const asio::ip::tcp::acceptor holder(io, {asio::ip::tcp::v6(), busy});
    model.startServer();
    ASSERT_TRUE(fixture.serverSettled());
    const QString busyText = "Port " + QString::number(busy) + " is busy";
    EXPECT_EQ(labelText(view, "statusText"), "Not listening");
    EXPECT_EQ(labelText(view, "statusDetail"), busyText);
    EXPECT_EQ(StatusView::statusTone(model), StatusView::Tone::orange);
    EXPECT_EQ(visibleNotices(view), QStringList {busyText + ". Another app is using it; pick another port."});
    ASSERT_TRUE(field->isVisibleTo(&view));
    EXPECT_EQ(field->text(), QString::number(busy + 1));

    for (const char* refused : {"80", "abc", "1023", "65536", "+2000", ""}) {
        field->setText(QString::fromLatin1(refused));
        use->click();
        EXPECT_EQ(model.port(), busy) << refused;
    }
    EXPECT_EQ(fixture.settings->get(AppModel::portKey), nlohmann::json(busy));
    EXPECT_TRUE(model.serverError());

    const auto free = test::freePort();
    field->setText(QString::number(free));
    emit field->returnPressed();
    ASSERT_TRUE(fixture.serverSettled());
    EXPECT_EQ(model.port(), free);
    EXPECT_EQ(model.listeningPort(), free);
    EXPECT_EQ(fixture.settings->get(AppModel::portKey), nlohmann::json(free));
    EXPECT_FALSE(field->isVisibleTo(&view));
}

// The phone in use reads "Connected as", the others when they were last used;
// a phone names itself, so its name is never markup. Remove lets a phone go.
TEST(StatusView, PhoneRowsShowUseAndRemove)
{
    TrayFixture fixture;
    auto& model = *fixture.model;
    const auto old = fixture.usedPairing("Old phone");
    ASSERT_TRUE(fixture.start());
    const auto phone = fixture.connectPhone("Pixel <img src=x>");
    ASSERT_TRUE(fixture.main.runUntil([&] { return model.pairings().size() == 2; }));

    StatusView view(model, noActions(), [] { return PairingStore::systemClock() + 300; });
    EXPECT_EQ(labelText(view, "statusText"), "Pixel <img src=x> connected");
    EXPECT_EQ(labelText(view, "statusDetail"), "Ready on desk.local:" + QString::number(model.port()));
    EXPECT_EQ(StatusView::statusTone(model), StatusView::Tone::green);
    QStringList captions;
    for (const auto* caption : view.findChildren<QLabel*>(QStringLiteral("lastUsed")))
        captions << caption->text();
    EXPECT_EQ(captions, (QStringList {"Connected as Pixel <img src=x>", "Last used 5 minutes ago"}));
    for (const auto* label : view.findChildren<QLabel*>())
        EXPECT_TRUE(!label->text().contains("<img") || label->textFormat() == Qt::PlainText)
            << label->text().toStdString();

    QToolButton* removeOld = nullptr;
    for (auto* row : view.findChildren<QWidget*>(QStringLiteral("phone")))
        if (row->findChildren<QLabel*>().front()->text() == "Old phone")
            removeOld = row->findChild<QToolButton*>();
    ASSERT_TRUE(removeOld);
    removeOld->click();
    ASSERT_TRUE(fixture.main.runUntil([&] { return model.pairings().size() == 1; }));
    EXPECT_FALSE(model.store().lookup(old.id));
    model.stop();
}

// A file Ferlow could not read is named where it was kept. While saving
// fails the popup says why; the saves are tried again every 30 s.
TEST(StatusView, FileProblemsAreNoticedUntilSavingWorks)
{
    TrayFixture fixture;
    const auto file = fixture.support / "actions.json";
    test::writeFile(file, "{\"half");
    auto& model = *(fixture.model = fixture.makeModel());
    StatusView view(model, noActions(), PairingStore::systemClock);
    const QString kept = QString::fromStdString(
        "Ferlow couldn't read " + file.string() + ". It is kept as " + file.string() + ".unreadable.");
    EXPECT_EQ(visibleNotices(view), QStringList {kept});

    const auto moved = fixture.folder.path() / "moved";
    std::filesystem::rename(fixture.support, moved);
    test::writeFile(fixture.support, "a file where the data folder should be");
    const auto pairing = model.store().createPending();
    const QString cannotSave
        = QString::fromStdString("Ferlow can't save its files: " + fixture.support.string() + ": Not a directory");
    ASSERT_TRUE(fixture.main.runUntil([&] { return visibleNotices(view) == QStringList {cannotSave, kept}; }));
    std::filesystem::remove(fixture.support);
    std::filesystem::rename(moved, fixture.support);
    fixture.main.advance(AppModel::saveRetryInterval - 1);
    EXPECT_EQ(visibleNotices(view).size(), 2);
    fixture.main.advance(1);
    EXPECT_TRUE(fixture.main.runUntil([&] { return visibleNotices(view) == QStringList {kept}; }));
    EXPECT_TRUE(PairingStore(fixture.support).lookup(pairing.id));
}

TEST(StatusView, RelativeTimesUseTheLargestWholeUnit)
{
    const std::pair<double, QString> cases[] {
        {0.4, "just now"}, {59.9, "59 seconds ago"}, {60, "1 minute ago"}, {2 * 3600 + 3599, "2 hours ago"},
        {15 * 86400, "2 weeks ago"}, {-3600, "in 1 hour"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(StatusView::relativeTime(seconds), text) << seconds;
}

TEST(StatusView, OpenAtLoginShowsWhatTheDesktopDid)
{
    TrayFixture fixture;
    StatusView view(*fixture.model, noActions(), PairingStore::systemClock);
    auto* toggle = view.findChild<QCheckBox*>();
    toggle->click();
    EXPECT_TRUE(fixture.loginItem);

    fixture.loginItemWorks = false;
    toggle->click();
    EXPECT_TRUE(toggle->isChecked());
    fixture.loginItem = false;
    view.reload();
    EXPECT_FALSE(toggle->isChecked());

    // The user service starts Ferlow at login: shown on, and not the view's to change.
    fixture.loginByService = true;
    view.reload();
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_FALSE(toggle->isEnabled());
    EXPECT_EQ(toggle->text(), "Open at Login (by ferlow.service)");
}

// Figures, not checks: the longest the main thread goes without running a
// 1 ms timer while buttons and pairings are saved, and while the port
// changes with the I/O queue busy for 50 ms (as on a slow display server).
TEST(StatusView, MainThreadStallFigures)
{
    TrayFixture fixture;
    fixture.model->start();
    ASSERT_TRUE(fixture.serverSettled());
    StatusView view(*fixture.model, noActions(), PairingStore::systemClock);
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.nsecsElapsed() - last);
        last = clock.nsecsElapsed();
    });
    const auto stall = [&](const std::function<void()>& work) {
        clock.start();
        last = longest = 0;
        tick.start(1);
        work();
        for (; clock.elapsed() < 300; fixture.main.runPending())
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        tick.stop();
        return static_cast<double>(longest) / 1e6;
    };
    auto buttons = fixture.model->actions();
    const double saving = stall([&] {
        for (int i = 0; i < 20; ++i) {
            buttons[0].title = std::to_string(i);
            fixture.model->setActions(buttons);
            fixture.model->addPhone();
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            fixture.main.runPending();
        }
    });
    const double porting = stall([&] {
        fixture.io.post([] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
        auto* port = view.findChild<QLineEdit*>(QStringLiteral("port"));
        port->setText(QString::number(test::freePort()));
        emit port->returnPressed();
    });
    EXPECT_TRUE(fixture.model->serverRunning());
    std::printf("longest main-thread stall: %.1f ms while saving, %.1f ms during a port change\n", saving, porting);
}

} // namespace
} // namespace ferlow
