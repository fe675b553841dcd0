#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

struct _XDisplay;
struct _XIM;
struct _XIC;

namespace ferlow::test {

// What a client of an X server sees of posted input: a window over the
// whole screen, focused, on a connection of its own. Keys are read back as
// an application reads them, through an input context
// (Xutf8LookupString), following keymap changes as they arrive.
class XTestWindow final {
public:
    // One thing the window received: a key press and its text, a key
    // release, or a button press.
    struct Event {
        enum class Kind { key, release, button } kind;
        std::string text;    // of a key press
        unsigned button = 0; // of a button press
        unsigned state = 0;  // the modifier mask of a press
        unsigned long keysym = 0; // the key's own, whatever the modifiers
    };

    XTestWindow(const std::string& display, int width, int height);
    ~XTestWindow();
    XTestWindow(const XTestWindow&) = delete;
    XTestWindow& operator=(const XTestWindow&) = delete;

    bool open() const { return m_display != nullptr; }
    _XDisplay* display() const { return m_display; }

    // Events as they come, until `done` says the list is complete or
    // `limit` has passed.
    template <typename Done> std::vector<Event> read(Done done, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // The text typed until `expected` has come (or `limit` passed).
    std::string text(const std::string& expected, std::chrono::milliseconds limit = std::chrono::seconds(5));

    // The pointer once it is at `expected`, or where it is after a few
    // seconds: the poster's connection is not ordered with this one.
    std::pair<int, int> pointer(std::pair<int, int> expected);

    // The server's whole core keymap, to compare before and after (the
    // number of keysyms per key last).
    std::vector<unsigned long> keymap() { return keymap(m_display); }
    static std::vector<unsigned long> keymap(_XDisplay* display);
    // How many keys of such a keymap have no keysym at all.
    static std::size_t emptyKeys(const std::vector<unsigned long>& keymap);

private:
    // The next event, or false once `deadline` has passed.
    bool next(Event& event, std::chrono::steady_clock::time_point deadline);

    _XDisplay* m_display = nullptr;
    _XIM* m_im = nullptr;
    _XIC* m_ic = nullptr;
    unsigned long m_window = 0;
};

template <typename Done>
std::vector<XTestWindow::Event> XTestWindow::read(Done done, std::chrono::milliseconds limit)
{
    std::vector<Event> seen;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    Event event;
    while (!done(seen) && next(event, deadline))
        seen.push_back(event);
    return seen;
}

} // namespace ferlow::test
