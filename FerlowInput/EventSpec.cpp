#include "FerlowInput/EventSpec.h"

#include <sstream>

namespace ferlow {

namespace {

template <typename T> void optionalField(std::ostream& out, const std::optional<T>& value)
{
    if (value)
        out << ' ' << *value;
    else
        out << " -";
}

} // namespace

std::string EventSpec::description() const
{
    std::ostringstream out;
    if (const auto* m = as<Mouse>()) {
        out << "mouse " << m->type << " at (" << m->at.x << ", " << m->at.y << ") button " << m->button
            << " clicks " << m->clickState << " delta (" << m->delta.dx << ", " << m->delta.dy << ")";
    } else if (const auto* s = as<Scroll>()) {
        out << "scroll " << s->dx << ' ' << s->dy << " phase " << s->phase << " momentum " << s->momentum;
    } else if (const auto* g = as<ScrollGesture>()) {
        out << "scrollGesture " << g->dx << ' ' << g->dy << " phase " << g->phase;
    } else if (const auto* gesture = as<Gesture>()) {
        out << "gesture " << gesture->subtype;
        optionalField(out, gesture->phase);
        optionalField(out, gesture->magnification);
        optionalField(out, gesture->rotation);
    } else if (const auto* d = as<Dock>()) {
        out << "dock " << d->motion << ' ' << d->progress << " phase " << d->phase;
        optionalField(out, d->velocity);
    } else if (const auto* k = as<Key>()) {
        out << "key " << k->code << " 0x" << std::hex << k->flags << std::dec << (k->down ? " down" : " up");
    } else if (const auto* media = as<Media>()) {
        out << "media " << media->key << (media->down ? " down" : " up");
    } else if (const auto* l = as<Launch>()) {
        out << "launch " << l->bundleID;
    } else if (const auto* t = as<Text>()) {
        out << "text " << t->deletions << " \"" << t->text << "\" " << t->then;
    }
    return out.str();
}

} // namespace ferlow
