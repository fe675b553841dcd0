#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "Ferlow/MainContext.h"

class QLabel;

namespace ferlow {

class AppModel;

// The "Add a Phone" window's content: the QR code of one pending pairing
// with the time it still works, then "Paired with …" as soon as the phone
// has used it, or the expiry once the time is up.
class PairingView final : public QWidget {
public:
    enum class State { waiting, paired, expired };

    static constexpr int width = 340;

    // `modules`: the QR code of `url`, one pixel per module. The countdown
    // starts now, by `main`'s clock, and moves once a second.
    PairingView(AppModel& model, MainContext& main, QString url, QImage modules, std::function<void()> onDone,
        QWidget* parent = nullptr);
    ~PairingView() override;

    State state() const;
    // "Code works for 9:05" from whole seconds left (PairingCountdown).
    static QString countdown(long long secondsLeft);
    // The pairing's id: the URL's fragment up to the first ".".
    static QString pairingID(const QString& url);

private:
    void showState();

    AppModel& m_model;
    MainContext& m_main;
    QString m_pairingID;
    double m_created;
    double m_now;
    std::unique_ptr<MainContext::Timer> m_tick;
    std::shared_ptr<void> m_observation;

    QWidget* m_waiting = nullptr;
    QWidget* m_paired = nullptr;
    QWidget* m_expired = nullptr;
    QLabel* m_pairedTitle = nullptr;
    QLabel* m_countdown = nullptr;
};

} // namespace ferlow
