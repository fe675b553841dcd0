#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "FerlowCore/Pairing.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace ferlow {

class AppModel;
class StatusDot;
class SymbolView;

// What the tray icon opens: the state at a glance, the notices that need the
// user, the paired phones, and the app's few settings and commands. It shows
// the model and calls it; the rest it leaves to the actions it is given.
class StatusView final : public QWidget {
public:
    struct Actions {
        std::function<void()> addPhone;
        std::function<void()> showOnboarding;
        std::function<void()> showActions;
        std::function<void()> uninstall;
        std::function<void()> quit;
    };
    using WallClock = std::function<double()>; // seconds since 1970, as pairings keep time

    enum class Tone { orange, green, secondary };

    static constexpr int width = 300;

    StatusView(AppModel& model, Actions actions, WallClock clock, QWidget* parent = nullptr);
    ~StatusView() override;

    // The header, by the first rule that applies.
    static QString statusText(const AppModel& model);
    static QString statusDetail(const AppModel& model);
    static Tone statusTone(const AppModel& model);
    // The caption under a phone's name.
    static QString lastUsed(const AppModel& model, const Pairing& pairing, double now);
    // "5 minutes ago", "in 1 hour", "just now": the largest whole unit.
    static QString relativeTime(double secondsAgo);
    // A port the editor accepts: a decimal number from 1024 to 65535.
    static std::optional<std::uint16_t> parsePort(const QString& text);

    // Reads the state that is not published (opening at login) and the
    // clock; the tray calls this each time it opens the view.
    void reload();

protected:
    void changeEvent(QEvent* event) override;

private:
    struct Notice;

    Notice* addNotice(QVBoxLayout* layout, const QString& actionLabel, std::function<void()> action);
    void showState();
    void rebuildPhones();
    void applyPort();

    AppModel& m_model;
    Actions m_actions;
    WallClock m_clock;
    std::shared_ptr<void> m_observation;

    StatusDot* m_dot = nullptr;
    QLabel* m_statusText = nullptr;
    QLabel* m_statusDetail = nullptr;
    Notice* m_updateNotice = nullptr;
    Notice* m_termsNotice = nullptr;
    Notice* m_accessNotice = nullptr;
    Notice* m_serverNotice = nullptr;
    Notice* m_addressNotice = nullptr;
    Notice* m_saveNotice = nullptr;
    std::vector<Notice*> m_keptNotices; // one per file moved aside at start
    QWidget* m_portEditor = nullptr;
    QLineEdit* m_portField = nullptr;
    QVBoxLayout* m_phones = nullptr;
    QCheckBox* m_openAtLogin = nullptr;
    std::vector<std::unique_ptr<Notice>> m_notices;
};

} // namespace ferlow
