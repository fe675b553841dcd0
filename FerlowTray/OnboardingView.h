#pragma once

#include <QWidget>
#include <memory>

#include "FerlowHost/Permissions.h"

class QLabel;
class QPushButton;

namespace ferlow {

class AppModel;
class SymbolView;

// Why Ferlow needs the right to post input, what this computer still needs
// for it, and, live, whether it has it. Where the desktop asks the user
// itself (the portal's dialog on Wayland), a refusal offers to ask again.
class OnboardingView final : public QWidget {
public:
    static constexpr int width = 420;

    explicit OnboardingView(AppModel& model, QWidget* parent = nullptr);
    ~OnboardingView() override;

    // What the input backend needs, in a sentence for the user; where the
    // desktop asks in its own dialog, where that request stands.
    static QString requirement(bool granted, const std::string& backend, bool desktopAsks = false,
        Permissions::Request request = Permissions::Request::none);
    // "Allowed", "Not allowed" (refused or ended) or "Waiting".
    static QString statusText(bool granted, Permissions::Request request = Permissions::Request::none);

private:
    void showState();

    AppModel& m_model;
    std::shared_ptr<void> m_observation;
    QLabel* m_requirement = nullptr;
    SymbolView* m_statusSymbol = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_tryAgain = nullptr;
};

} // namespace ferlow
