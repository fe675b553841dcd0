#include "tests/Support/XTestWindow.h"

#include <algorithm>
#include <clocale>
#include <poll.h>
#include <string>

#include "tests/Support/TestSupport.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace ferlow::test {

XTestWindow::XTestWindow(const std::string& display, int width, int height)
{
    m_display = XOpenDisplay(display.c_str());
    if (!m_display)
        return;
    const Window root = XDefaultRootWindow(m_display);
    m_window = XCreateSimpleWindow(m_display, root, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), 0, 0, 0);
    XSelectInput(m_display, m_window, ButtonPressMask | KeyPressMask | KeyReleaseMask);
    XMapWindow(m_display, m_window);
    XSync(m_display, False);
    XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
    XSync(m_display, False);
    // Xlib follows keymap changes only once it has looked a key up; an
    // application has done so long before it sees typed text.
    XKeysymToKeycode(m_display, XK_a);

    // Xlib's own input method (no server to ask), in a UTF-8 locale for
    // as long as it takes to open it: the context keeps that locale.
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") && XSupportsLocale()) {
        XSetLocaleModifiers("@im=none");
        m_im = XOpenIM(m_display, nullptr, nullptr, nullptr);
        if (m_im)
            m_ic = XCreateIC(m_im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, m_window,
                XNFocusWindow, m_window, nullptr);
    }
    std::setlocale(LC_CTYPE, before.c_str());
}

XTestWindow::~XTestWindow()
{
    if (m_ic)
        XDestroyIC(m_ic);
    if (m_im)
        XCloseIM(m_im);
    if (m_display)
        XCloseDisplay(m_display);
}

bool XTestWindow::next(Event& event, std::chrono::steady_clock::time_point deadline)
{
    while (std::chrono::steady_clock::now() < deadline) {
        if (XPending(m_display) == 0) {
            pollfd wait {XConnectionNumber(m_display), POLLIN, 0};
            ::poll(&wait, 1, 20);
            continue;
        }
        XEvent x;
        XNextEvent(m_display, &x);
        if (XFilterEvent(&x, None))
            continue;
        if (x.type == MappingNotify) {
            XRefreshKeyboardMapping(&x.xmapping);
        } else if (x.type == ButtonPress) {
            event = {Event::Kind::button, {}, x.xbutton.button, x.xbutton.state & 0xFF, 0};
            return true;
        } else if (x.type == KeyRelease) {
            event = {Event::Kind::release, {}, 0, 0, 0};
            return true;
        } else if (x.type == KeyPress) {
            char text[64];
            KeySym keysym = NoSymbol;
            Status status = 0;
            const int length = m_ic ? Xutf8LookupString(m_ic, &x.xkey, text, sizeof text, &keysym, &status)
                                    : XLookupString(&x.xkey, text, sizeof text, &keysym, nullptr);
            event = {Event::Kind::key, std::string(text, static_cast<std::size_t>(length > 0 ? length : 0)), 0,
                x.xkey.state & 0xFF, XLookupKeysym(&x.xkey, 0)};
            return true;
        }
    }
    return false;
}

std::string XTestWindow::text(const std::string& expected, std::chrono::milliseconds limit)
{
    std::string typed;
    read([&](const std::vector<Event>& seen) {
        if (!seen.empty() && seen.back().kind == Event::Kind::key)
            typed += seen.back().text;
        return typed.size() >= expected.size();
    }, limit);
    return typed;
}

std::pair<int, int> XTestWindow::pointer(std::pair<int, int> expected)
{
    std::pair<int, int> at;
    Window root, child;
    int windowX = 0, windowY = 0;
    unsigned mask = 0;
    eventually([&] {
        XQueryPointer(m_display, XDefaultRootWindow(m_display), &root, &child, &at.first, &at.second, &windowX, &windowY, &mask);
        return at == expected;
    });
    return at;
}

std::vector<unsigned long> XTestWindow::keymap(Display* display)
{
    int low = 0, high = 0, perKeycode = 0;
    XDisplayKeycodes(display, &low, &high);
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(low), high - low + 1, &perKeycode);
    std::vector<unsigned long> all(syms, syms + (high - low + 1) * perKeycode);
    XFree(syms);
    all.push_back(static_cast<unsigned long>(perKeycode));
    return all;
}

std::size_t XTestWindow::emptyKeys(const std::vector<unsigned long>& keymap)
{
    const auto perKeycode = keymap.back();
    std::size_t empty = 0;
    for (auto key = keymap.begin(); key + long(perKeycode) < keymap.end(); key += long(perKeycode))
        empty += std::all_of(key, key + long(perKeycode), [](unsigned long keysym) { return keysym == NoSymbol; });
    return empty;
}

} // namespace ferlow::test
