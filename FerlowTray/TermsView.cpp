#include "FerlowTray/TermsView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "FerlowTray/ViewStyle.h"
#include "FerlowCore/Terms.h"

namespace ferlow {

namespace {

namespace text {
const QString title = QStringLiteral("Before you start");
const QString points[] {
    QStringLiteral("Ferlow is alpha software, provided as is, with no warranty."),
    QStringLiteral("It controls this computer for the phone you pair. Use it only on computers you\u2019re allowed to "
                   "control."),
    QStringLiteral("Features, pricing or availability may change, and an update may be needed to keep using it."),
    QStringLiteral("What you do stays on your own network. Ferlow only asks its website which version is current."),
};
const QString pleaseRead = QStringLiteral("Please read the");
const QString termsOfUse = QStringLiteral("Terms of Use");
const QString andText = QStringLiteral("and");
const QString privacyPolicy = QStringLiteral("Privacy Policy");
const QString quit = QStringLiteral("Quit");
const QString agree = QStringLiteral("Agree and Continue");
} // namespace text

QString link(std::string_view url, const QString& title)
{
    return QStringLiteral("<a href=\"%1\">%2</a>")
        .arg(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size())).toHtmlEscaped(), title.toHtmlEscaped());
}

} // namespace

TermsView::TermsView(std::function<void()> onAgree, std::function<void()> onQuit, QWidget* parent) : QWidget(parent)
{
    setFixedWidth(width);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(14);

    auto* title = new QLabel(text::title, this);
    ViewStyle::setTextStyle(title, ViewStyle::Text::title2);
    column->addWidget(title);

    auto* points = new QVBoxLayout;
    points->setSpacing(8);
    const QColor secondary = ViewStyle::color(ViewStyle::Tint::secondary, palette());
    for (const auto& sentence : text::points) {
        auto* point = new QHBoxLayout;
        auto* bullet = new QLabel(QStringLiteral("\u2022"), this);
        ViewStyle::setTint(bullet, secondary);
        auto* words = new QLabel(sentence, this);
        words->setWordWrap(true);
        point->addWidget(bullet, 0, Qt::AlignTop);
        point->addWidget(words, 1);
        points->addLayout(point);
    }
    column->addLayout(points);

    auto* links = new QLabel(text::pleaseRead + ' ' + link(Terms::termsURL, text::termsOfUse) + ' ' + text::andText
            + ' ' + link(Terms::privacyURL, text::privacyPolicy),
        this);
    links->setTextFormat(Qt::RichText);
    links->setOpenExternalLinks(true);
    links->setWordWrap(true);
    column->addWidget(links);

    auto* buttons = new QHBoxLayout;
    auto* quit = new QPushButton(text::quit, this);
    auto* agree = new QPushButton(text::agree, this);
    agree->setObjectName(QStringLiteral("agree"));
    // Return agrees, whichever button has the focus.
    quit->setAutoDefault(false);
    agree->setDefault(true);
    connect(quit, &QPushButton::clicked, this, std::move(onQuit));
    connect(agree, &QPushButton::clicked, this, std::move(onAgree));
    buttons->addWidget(quit);
    buttons->addStretch();
    buttons->addWidget(agree);
    column->addLayout(buttons);
}

} // namespace ferlow
