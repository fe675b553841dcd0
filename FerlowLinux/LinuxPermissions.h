#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

#include "FerlowHost/Permissions.h"

namespace ferlow {

// The right to inject input on Linux is whatever the chosen input backend
// needs: the user's consent in the desktop's own dialog for its
// RemoteDesktop portal, write access to /dev/uinput for the kernel's
// virtual device, or nothing beyond an X server with XTEST. Only the portal
// has a system prompt; instead of a settings pane, openSettings() opens a
// short help page on the three ways in.
class LinuxPermissions final : public Permissions {
public:
    // Whether the chosen backend can post input right now; cheap, asked once
    // a second.
    using CanInject = std::function<bool()>;
    // Shows a local file to the user; an empty one means openWithDesktop.
    using Open = std::function<void(const std::filesystem::path&)>;
    // The desktop's own dialog, where the backend has one: asking (without
    // waiting for the answer), and where the request stands.
    struct DesktopRequest {
        std::function<void()> ask;
        std::function<Request()> state;
    };

    // `helpFile` is where the help page is written, in a folder only the user
    // can write (the data folder): the page tells the user which commands to
    // run, so nobody else may be able to put words in it.
    LinuxPermissions(CanInject canInject, std::filesystem::path helpFile, Open open = {}, DesktopRequest desktop = {});

    bool isTrusted() const override { return m_canInject && m_canInject(); }
    void prompt() override
    {
        if (m_desktop.ask)
            m_desktop.ask();
    }
    // Writes the help page afresh and opens it. Neither failure is reported:
    // a page that could not be written is not opened.
    void openSettings() override;
    Request request() const override { return m_desktop.state ? m_desktop.state() : Request::none; }
    bool desktopAsks() const override { return static_cast<bool>(m_desktop.ask); }

    // The page, HTML.
    static std::string_view helpPage();

    // Opens a file with the desktop's default application (xdg-open), without
    // waiting for it.
    static void openWithDesktop(const std::filesystem::path& file);

private:
    CanInject m_canInject;
    std::filesystem::path m_helpFile;
    Open m_open;
    DesktopRequest m_desktop;
};

} // namespace ferlow
