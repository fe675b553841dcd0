#include "FerlowLinux/PortalPoster.h"

#include <mutex>

#include <gtest/gtest.h>

#include "FerlowLinux/ChordMapper.h"
#include "FerlowLinux/InputBackend.h"
#include "tests/Support/FakePortal.h"

namespace ferlow {
namespace {

using State = PortalPoster::State;
using Lines = std::vector<std::string>;
constexpr std::uint64_t command = 0x100000;

// Tokens, refusals and ends a poster reported from its own thread.
struct Reports {
    std::mutex mutex;
    Lines tokens, ends;
    Lines get(Lines Reports::*list)
    {
        std::lock_guard lock(mutex);
        return this->*list;
    }
};

class PortalPosterTest : public testing::Test {
public:
    void SetUp() override
    {
        if (!bus->available())
            GTEST_SKIP() << bus->reason();
        portal = std::make_unique<test::FakePortal>(bus->address());
    }

    // A fresh portal (on a fresh bus, if asked) for the next case of a table.
    void renew(bool newBus)
    {
        portal.reset();
        if (newBus)
            bus = std::make_unique<test::PrivateBus>();
        portal = std::make_unique<test::FakePortal>(bus->address());
        reports = std::make_shared<Reports>();
    }

    // A poster whose session start has been answered, one way or the other.
    std::unique_ptr<PortalPoster> started(
        std::string token = "", std::chrono::milliseconds answerLimit = PortalPoster::Options {}.answerLimit)
    {
        PortalPoster::Options made;
        made.busAddress = bus->address();
        made.restoreToken = std::move(token);
        made.answerLimit = answerLimit;
        made.onToken = [reports = reports](const std::string& given) {
            std::lock_guard lock(reports->mutex);
            reports->tokens.push_back(given);
        };
        made.onChange = [reports = reports](State state, const std::string& why) {
            std::lock_guard lock(reports->mutex);
            if (state == State::refused || state == State::ended)
                reports->ends.push_back((state == State::refused ? "refused: " : "ended: ") + why);
        };
        std::string why;
        auto poster = PortalPoster::open(std::move(made), &why);
        EXPECT_TRUE(poster) << why;
        if (!poster)
            return nullptr;
        poster->start();
        EXPECT_TRUE(test::eventually([&] { return poster->state() != State::idle && poster->state() != State::starting; }));
        return poster;
    }

    std::unique_ptr<test::PrivateBus> bus = std::make_unique<test::PrivateBus>();
    std::unique_ptr<test::FakePortal> portal;
    std::shared_ptr<Reports> reports = std::make_shared<Reports>();
};

// A refused start says why, closes its session, posts nothing and can be retried.
TEST_F(PortalPosterTest, AStartThatIsRefusedSaysWhyAndPostsNothing)
{
    struct Case {
        const char* name;
        std::function<void(test::FakePortal&)> setUp;
        const char* why;
    };
    const Case cases[] = {
        {"declined", [](auto& p) { p.answer("Start", 1); }, "The desktop did not allow Ferlow to control"},
        {"failed", [](auto& p) { p.answer("SelectDevices", 2); }, "could not start remote control"},
        {"unanswered", [](auto& p) { p.silence("Start"); }, "did not answer Ferlow\u2019s request to control the pointer within 1 second"},
        {"keyboard only", [](auto& p) { p.grant(PortalPoster::keyboard); }, "did not give Ferlow both the pointer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        renew(false);
        c.setUp(*portal);
        const auto poster = started("", std::chrono::seconds(1));
        ASSERT_EQ(poster->state(), State::refused);
        const auto ends = reports->get(&Reports::ends);
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_NE(ends[0].find(c.why), std::string::npos) << ends[0];
        EXPECT_FALSE(poster->connected());
        EXPECT_TRUE(portal->waitFor("Close", 1));
        poster->post(std::vector {LinuxEvent::motion(0, 0, 5, 5)});

        portal->answer("Start", 0);
        portal->answer("SelectDevices", 0);
        portal->grant(PortalPoster::keyboard | PortalPoster::pointer);
        poster->start();
        ASSERT_TRUE(test::eventually([&] { return poster->state() == State::active; }));
        poster->post(std::vector {LinuxEvent::motion(0, 0, 1, 2)});
        ASSERT_TRUE(portal->waitFor("Notify", 1));
        EXPECT_EQ(portal->calls("Notify"), (Lines {"NotifyPointerMotion 1 2"}));
    }
}

// Gestures through the chord mapper as portal calls; what is held goes up before Close.
TEST_F(PortalPosterTest, GesturesReachThePortalAsItsCalls)
{
    std::shared_ptr<PortalPoster> poster = started();
    ASSERT_EQ(poster->state(), State::active);
    auto mapper = std::make_unique<ChordMapper>(KeyProfile(KeyProfile::Desktop::gnome), poster);
    const auto mouse = [](std::int32_t type, Vector delta = {}) { return EventSpec::mouse(type, {10, 10}, 0, 1, delta); };
    mapper->post({mouse(5, {3, -2}), mouse(1), mouse(2)});
    mapper->post({mouse(1), mouse(6, {4, 0}), mouse(2)});
    mapper->post({EventSpec::scroll(0, 30, 1, 0), EventSpec::scroll(-10, 0, 2, 0), EventSpec::scroll(0, 0, 4, 0),
        EventSpec::scroll(0, 10, 0, 1), EventSpec::scroll(0, 0, 0, 3)});
    mapper->post({EventSpec::gesture(8, 1, 0.16, std::nullopt), EventSpec::gesture(8, 4, 0.0, std::nullopt)});
    mapper->post({EventSpec::key(55, command, true), EventSpec::key(8, command, true), EventSpec::key(8, command, false),
        EventSpec::key(55, 0, false)});
    poster->post(std::vector {LinuxEvent::text("a\u00e9\u20ac\u0436\n\xff!")});
    mapper->post({mouse(1), EventSpec::key(56, 0x20000, true), EventSpec::key(0, 0x20000, true)});
    ASSERT_TRUE(portal->waitFor("Notify", 31));
    mapper.reset();
    poster.reset();

    const Lines expected {
        "NotifyPointerMotion 3 -2",
        "NotifyPointerButton 272 1", "NotifyPointerButton 272 0",
        "NotifyPointerButton 272 1", "NotifyPointerMotion 4 0", "NotifyPointerButton 272 0",
        "NotifyPointerAxis 0 -30", "NotifyPointerAxis 10 0", "NotifyPointerAxis 0 0 finish",
        "NotifyPointerAxis 0 -10", "NotifyPointerAxis 0 0 finish",
        "NotifyKeyboardKeysym 0xffe3 1", "NotifyPointerAxisDiscrete 0 -1", "NotifyKeyboardKeysym 0xffe3 0",
        "NotifyKeyboardKeysym 0xffe3 1", "NotifyKeyboardKeysym 0x63 1", "NotifyKeyboardKeysym 0x63 0",
        "NotifyKeyboardKeysym 0xffe3 0",
        // The line feed and the invalid byte are not typed.
        "NotifyKeyboardKeysym 0x61 1", "NotifyKeyboardKeysym 0x61 0", "NotifyKeyboardKeysym 0xe9 1",
        "NotifyKeyboardKeysym 0xe9 0", "NotifyKeyboardKeysym 0x20ac 1", "NotifyKeyboardKeysym 0x20ac 0",
        "NotifyKeyboardKeysym 0x6d6 1", "NotifyKeyboardKeysym 0x6d6 0", "NotifyKeyboardKeysym 0x21 1",
        "NotifyKeyboardKeysym 0x21 0",
        "NotifyPointerButton 272 1", "NotifyKeyboardKeysym 0xffe1 1", "NotifyKeyboardKeysym 0x61 1",
        "NotifyPointerButton 272 0", "NotifyKeyboardKeysym 0x61 0", "NotifyKeyboardKeysym 0xffe1 0",
    };
    ASSERT_TRUE(portal->waitFor("Close", 1));
    EXPECT_EQ(portal->calls().back(), "Close");
    EXPECT_EQ(portal->calls("Notify"), expected);
}

// An ended session is told once and gets no posts, not even releases; the next
// start sends the newest token.
TEST_F(PortalPosterTest, ASessionEndedByTheDesktopIsToldOnceAndTheNextStartSendsTheNewestToken)
{
    const std::tuple<const char*, bool, const char*> endings[] = {
        {"Closed", false, "The desktop ended Ferlow\u2019s control"},
        {"bus gone", true, "Ferlow no longer controls"},
    };
    for (const auto& [name, busGoes, why] : endings) {
        SCOPED_TRACE(name);
        renew(true);
        auto poster = started("kept");
        ASSERT_EQ(poster->state(), State::active);
        poster->post(std::vector {LinuxEvent::button(LinuxEvent::Button::left, true), LinuxEvent::motion(0, 0, 2, 0)});
        ASSERT_TRUE(portal->waitFor("Notify", 2));
        busGoes ? bus->stop() : portal->closeSession();
        ASSERT_TRUE(test::eventually([&] { return poster->state() == State::ended; }));
        poster->post(std::vector {LinuxEvent::motion(0, 0, 2, 0), LinuxEvent::button(LinuxEvent::Button::left, false)});
        const auto ends = reports->get(&Reports::ends);
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_TRUE(ends[0].starts_with("ended: ") && ends[0].find(why) != std::string::npos) << ends[0];
        if (!busGoes) {
            poster->start();
            ASSERT_TRUE(test::eventually([&] { return poster->state() == State::active; }));
            EXPECT_EQ(portal->calls("SelectDevices"),
                (Lines {"SelectDevices types=3 persist=2 token=kept", "SelectDevices types=3 persist=2 token=token-1"}));
            EXPECT_EQ(reports->get(&Reports::tokens), (Lines {"token-1", "token-2"}));
        }
        poster.reset();
        EXPECT_EQ(portal->calls("Notify"), (Lines {"NotifyPointerButton 272 1", "NotifyPointerMotion 2 0"}));
    }
}

// A Wayland session passes over a portal that lacks a device, or is not
// there, and says why. (That it takes a full portal is the daemon's test.)
TEST_F(PortalPosterTest, AWaylandSessionPassesOverAPortalWithoutKeyboardAndPointer)
{
    InputBackend::Options options;
    options.session = InputBackend::Session::wayland;
    options.uinputPath = "/nonexistent/uinput";
    options.portal.busAddress = bus->address();
    const std::pair<std::uint32_t, std::string> offers[] = {
        {PortalPoster::keyboard, "portal: the desktop\u2019s RemoteDesktop portal offers no pointer; "},
        {0, "portal: the desktop\u2019s RemoteDesktop portal offers no keyboard or pointer; "},
        {3, "portal: no RemoteDesktop portal on the session bus ("},
    };
    for (const auto& [types, reason] : offers) {
        portal.reset();
        if (types != 3)
            portal = std::make_unique<test::FakePortal>(bus->address(), types);
        const auto backend = InputBackend::choose(options);
        EXPECT_EQ(backend.name(), "none");
        EXPECT_TRUE(backend.reasons().starts_with(reason)) << backend.reasons();
        EXPECT_TRUE(backend.reasons().ends_with("uinput: /nonexistent/uinput is not writable")) << backend.reasons();
    }
}

} // namespace
} // namespace ferlow
