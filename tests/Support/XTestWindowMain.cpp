// A window for tests outside C++ (the pad's browser test): it covers the
// screen of $DISPLAY, takes the focus and prints what it receives, one JSON
// object a line: {"ready":true} once it is up, then {"key":"<text>"},
// {"release":true} and {"button":<n>}, until it is killed.
#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "tests/Support/XTestWindow.h"

int main()
{
    const char* display = std::getenv("DISPLAY");
    ferlow::test::XTestWindow window(display ? display : "", 4096, 4096);
    if (!window.open()) {
        std::fprintf(stderr, "cannot open the display\n");
        return 1;
    }
    const auto say = [](const nlohmann::json& line) {
        std::printf("%s\n", line.dump().c_str());
        std::fflush(stdout);
    };
    say({{"ready", true}});
    using Kind = ferlow::test::XTestWindow::Event::Kind;
    for (;;) {
        window.read([&](const auto& seen) {
            if (seen.empty())
                return false;
            const auto& event = seen.back();
            if (event.kind == Kind::key)
                say({{"key", event.text}});
            else if (event.kind == Kind::release)
                say({{"release", true}});
            else
                say({{"button", event.button}});
            return false;
        }, std::chrono::hours(1));
    }
}
