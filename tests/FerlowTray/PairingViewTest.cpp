// The pairing window on a real model and its clock; its QR code read back by
// an independent decoder.

#include <QClipboard>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include "FerlowTray/PairingView.h"
#include "tests/FerlowTray/TrayFixture.h"

namespace ferlow {
namespace {

using test::TrayFixture;

QString countdownOf(const PairingView& view)
{
    return view.findChild<QLabel*>(QStringLiteral("countdown"))->text();
}

// Ticks come a few milliseconds late, as a real timer's do: still a second
// less at each, none skipped, none expired early. A phone that pairs shows
// success in its own window only, and its time running out changes nothing.
TEST(PairingView, CountsDownTenMinutesThenExpiresUnlessItsPhonePairs)
{
    TrayFixture fixture;
    fixture.main.timerLateness = 0.004;
    fixture.usedPairing("Older phone");
    const auto offer = fixture.model->addPhone(), other = fixture.model->addPhone();
    PairingView view(*fixture.model, fixture.main, offer->pairing, {}, [] { });
    PairingView paired(*fixture.model, fixture.main, other->pairing, {}, [] { });
    EXPECT_EQ(countdownOf(view), "Code works for 10:00");
    fixture.main.advance(1.01);
    EXPECT_EQ(countdownOf(view), "Code works for 9:59");
    fixture.model->store().markUsed(other->pairing.id, "Pixel <img src=x>");
    fixture.model->refresh();
    EXPECT_EQ(paired.state(), PairingView::State::paired);
    const auto* title = paired.findChild<QLabel*>(QStringLiteral("pairedTitle"));
    EXPECT_EQ(title->text(), "Paired with Pixel <img src=x>");
    EXPECT_EQ(title->textFormat(), Qt::PlainText); // the phone's own name, never markup
    fixture.main.advance(598);
    EXPECT_EQ(countdownOf(view), "Code works for 0:01");
    EXPECT_EQ(view.state(), PairingView::State::waiting);
    fixture.main.advance(1);
    EXPECT_EQ(view.state(), PairingView::State::expired);
    EXPECT_EQ(paired.state(), PairingView::State::paired);
}

// The code follows the port and where phones find the computer; the address
// shows without the secret, the button copies the whole link, and after the
// expiry a new code replaces the old in place.
TEST(PairingView, FollowsPortAndAddressCopiesTheLinkAndMakesANewCode)
{
    TrayFixture fixture;
    auto& model = *fixture.model;
    model.start();
    const auto offer = model.addPhone();
    QString drawn;
    PairingView view(model, fixture.main, offer->pairing, [&](const QString& url) { return drawn = url, QImage(); }, [] { });
    const auto* address = view.findChild<QLabel*>(QStringLiteral("address"));
    const auto* notice = view.findChild<QLabel*>(QStringLiteral("addressNotice"));
    EXPECT_EQ(address->text(), "http://desk.local:" + QString::number(model.port()));
    EXPECT_FALSE(notice->isVisibleTo(&view));
    view.findChild<QPushButton*>(QStringLiteral("copyLink"))->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), offer->url);

    const auto port = test::freePort();
    model.applyPort(port);
    fixture.moveTo({"192.168.1.20", false});
    EXPECT_EQ(drawn.toStdString(), pairingURL("192.168.1.20", port, offer->pairing));
    EXPECT_EQ(view.url(), drawn);
    EXPECT_EQ(address->text(), "http://192.168.1.20:" + QString::number(port));
    EXPECT_TRUE(notice->isVisibleTo(&view));

    fixture.main.advance(600);
    ASSERT_EQ(view.state(), PairingView::State::expired);
    view.findChild<QPushButton*>(QStringLiteral("newCode"))->click();
    EXPECT_EQ(view.state(), PairingView::State::waiting);
    EXPECT_EQ(countdownOf(view), "Code works for 10:00");
    EXPECT_NE(view.url().toStdString(), pairingURL("192.168.1.20", port, offer->pairing));
    model.stop();
}

// Whatever the URL's length the symbol is exactly 220 logical pixels square,
// pure black and white at the test's scale, and zbar reads the URL back.
TEST(PairingView, QRCodeIsExactSharpAndReadsBack)
{
    TrayFixture fixture;
    const auto url = fixture.model->addPhone()->url;
    for (const std::string& text : {url, url + "/" + std::string(300, 'x')}) {
        QRCodeView code(QRCodeView::modules(text));
        const QImage image = code.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const qreal scale = image.devicePixelRatio();
        const QRect symbol(qRound(QRCodeView::padding * scale), qRound(QRCodeView::padding * scale),
            qRound(QRCodeView::side * scale), qRound(QRCodeView::side * scale));
        QRect dark;
        int grey = 0;
        for (int y = symbol.top(); y <= symbol.bottom(); ++y)
            for (int x = symbol.left(); x <= symbol.right(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                if (pixel == qRgb(0, 0, 0))
                    dark |= QRect(x, y, 1, 1);
                else if (pixel != qRgb(255, 255, 255))
                    ++grey;
            }
        EXPECT_EQ(dark, symbol) << text.size();
        EXPECT_EQ(grey, 0) << text.size();

        if (text != url)
            continue;
        const auto zbar = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
        if (zbar.isEmpty())
            GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
        const auto file = QString::fromStdString((fixture.folder.path() / "code.png").string());
        ASSERT_TRUE(image.save(file));
        QProcess reader;
        reader.start(zbar, {QStringLiteral("--raw"), QStringLiteral("-q"), file});
        ASSERT_TRUE(reader.waitForFinished(30000));
        EXPECT_EQ(QString::fromUtf8(reader.readAllStandardOutput()).trimmed().toStdString(), url);
    }
}

} // namespace
} // namespace ferlow
