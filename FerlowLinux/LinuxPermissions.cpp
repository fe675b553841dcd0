#include "FerlowLinux/LinuxPermissions.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "FerlowCore/AtomicFile.h"
#include "FerlowCore/Bytes.h"

extern char** environ;

namespace ferlow {

namespace {

constexpr std::string_view page = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Let Ferlow control the pointer and keyboard</title>
<style>
body { font-family: sans-serif; max-width: 42em; margin: 2em auto; padding: 0 1em; line-height: 1.5; }
pre { background: #eee; padding: 0.6em; overflow-x: auto; }
</style>
</head>
<body>
<h1>Let Ferlow control the pointer and keyboard</h1>
<p>There are three ways. Ferlow uses the first that works in your session and says which.</p>

<h2>On Wayland: allow it when your desktop asks (nothing to install)</h2>
<p>GNOME, KDE Plasma and other Wayland desktops have a RemoteDesktop portal. The first time Ferlow starts,
the desktop asks in a dialog of its own whether Ferlow may control this computer; allow it there. The desktop
remembers your answer, so later starts need no dialog. If you said no, choose Try Again in Ferlow's window, or
start Ferlow again.</p>

<h2>Or: an X11 session</h2>
<p>Nothing to do. On an X11 session Ferlow moves the pointer and presses keys through the X server itself. Where
your login screen offers an X11 (Xorg) session, you can choose it there.</p>

<h2>Or: /dev/uinput, with a udev rule</h2>
<p>On a Wayland desktop without that portal, Ferlow can use the kernel's virtual input device if your user may
write <code>/dev/uinput</code>. Choose one of these, then quit Ferlow and start it again.</p>

<h3>Either: for whoever sits at this computer (recommended)</h3>
<p>A udev rule gives the user logged in at the screen, and nobody else, access to the device:</p>
<pre>echo 'KERNEL=="uinput", SUBSYSTEM=="misc", OPTIONS+="static_node=uinput", TAG+="uaccess"' | sudo tee /etc/udev/rules.d/60-ferlow-uinput.rules
echo uinput | sudo tee /etc/modules-load.d/ferlow-uinput.conf</pre>
<p>Then restart the computer.</p>

<h3>Or: for the members of the input group</h3>
<pre>echo 'KERNEL=="uinput", SUBSYSTEM=="misc", GROUP="input", MODE="0660"' | sudo tee /etc/udev/rules.d/60-ferlow-uinput.rules
echo uinput | sudo tee /etc/modules-load.d/ferlow-uinput.conf
sudo usermod -aG input "$USER"</pre>
<p>Then restart the computer. Members of the input group can also read every keyboard and mouse, so prefer the
first way on a computer that others use.</p>

<h2>Undo</h2>
<pre>sudo rm /etc/udev/rules.d/60-ferlow-uinput.rules /etc/modules-load.d/ferlow-uinput.conf</pre>
</body>
</html>
)";

} // namespace

LinuxPermissions::LinuxPermissions(CanInject canInject, std::filesystem::path helpFile, Open open, DesktopRequest desktop)
    : m_canInject(std::move(canInject))
    , m_helpFile(std::move(helpFile))
    , m_open(std::move(open))
    , m_desktop(std::move(desktop))
{
    if (!m_open)
        m_open = openWithDesktop;
}

std::string_view LinuxPermissions::helpPage()
{
    return page;
}

void LinuxPermissions::openSettings()
{
    try {
        AtomicFile::write(m_helpFile, asBytes(page), 0600);
    } catch (const std::filesystem::filesystem_error&) {
        return;
    }
    m_open(m_helpFile);
}

void LinuxPermissions::openWithDesktop(const std::filesystem::path& file)
{
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string program = "xdg-open", argument = file.string();
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return;
    // xdg-open may stay until the viewer closes: reap it on the side rather
    // than make the caller wait or leave a zombie.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    }).detach();
}

} // namespace ferlow
