#pragma once

#include <QWidget>
#include <functional>

namespace ferlow {

// The short terms the user agrees to before the server starts. It offers
// only "Agree and Continue", the default button, and "Quit".
class TermsView final : public QWidget {
public:
    static constexpr int width = 460;

    TermsView(std::function<void()> onAgree, std::function<void()> onQuit, QWidget* parent = nullptr);
};

} // namespace ferlow
