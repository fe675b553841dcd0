#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "Ferlow/MainContext.h"
#include "FerlowCore/Pairing.h"

class QLabel;

namespace ferlow {

class AppModel;
class QRCodeView;

// The "Add a Phone" window's content: the QR code of one pending pairing,
// the address it opens as text with a button that copies the whole link,
// and the time it still works; then "Paired with …" as soon as the phone
// has used it, or the expiry, with a new code on offer, once the time is up.
// The code follows the model's port and where phones find this computer.
class PairingView final : public QWidget {
public:
    enum class State { waiting, paired, expired };

    static constexpr int width = 340;

    // The QR code of a URL, one pixel per module; null when the URL cannot
    // be encoded.
    using QRModules = std::function<QImage(const QString& url)>;

    // Shows `pairing`, one of the model's pending pairings. The countdown
    // starts now, by `main`'s clock, and moves once a second.
    PairingView(AppModel& model, MainContext& main, Pairing pairing, QRModules qrModules,
        std::function<void()> onDone, QWidget* parent = nullptr);
    ~PairingView() override;

    State state() const;
    // The whole URL the code carries, secret included.
    QString url() const { return m_url; }
    // "Code works for 9:05" from whole seconds left (PairingCountdown).
    static QString countdown(long long secondsLeft);
    // A new pending pairing in place of this one, its countdown from the
    // start ("New Code" after the expiry).
    void newCode();

private:
    void showCode();
    void showState();

    AppModel& m_model;
    MainContext& m_main;
    Pairing m_pairing;
    QRModules m_qrModules;
    QString m_url;
    double m_created;
    double m_now;
    std::unique_ptr<MainContext::Timer> m_tick;
    std::shared_ptr<void> m_observation;

    QWidget* m_waiting = nullptr;
    QWidget* m_paired = nullptr;
    QWidget* m_expired = nullptr;
    QRCodeView* m_code = nullptr;
    QLabel* m_address = nullptr;
    QLabel* m_addressNotice = nullptr;
    QLabel* m_pairedTitle = nullptr;
    QLabel* m_countdown = nullptr;
};

} // namespace ferlow
