#include "FerlowLinux/LinuxEvent.h"

#include <sstream>

namespace ferlow {

std::string LinuxEvent::description() const
{
    std::ostringstream out;
    if (const auto* m = as<Motion>()) {
        out << "motion (" << m->x << ", " << m->y << ") delta (" << m->dx << ", " << m->dy << ")";
    } else if (const auto* b = as<PointerButton>()) {
        static constexpr const char* names[] = {"left", "right", "middle"};
        out << "button " << names[static_cast<int>(b->button)] << (b->down ? " down" : " up");
    } else if (const auto* w = as<Wheel>()) {
        static constexpr const char* endings[] = {"", " finish", " detents"};
        out << "wheel " << w->vertical << ' ' << w->horizontal << endings[static_cast<int>(w->scrolling)];
    } else if (const auto* k = as<Key>()) {
        out << "key " << k->code << (k->down ? " down" : " up");
    } else if (const auto* t = as<Text>()) {
        out << "text \"" << t->utf8 << '"';
    }
    return out.str();
}

} // namespace ferlow
