#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FerlowLinux/LinuxEvent.h"

typedef struct _GAsyncResult GAsyncResult;
typedef struct _GCancellable GCancellable;
typedef struct _GDBusConnection GDBusConnection;
typedef struct _GError GError;
typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;
typedef struct _GObject GObject;
typedef struct _GSource GSource;
typedef struct _GVariant GVariant;
typedef struct _GVariantBuilder GVariantBuilder;

namespace ferlow {

// Posts Linux events through the desktop's RemoteDesktop portal
// (org.freedesktop.portal.RemoteDesktop, version 2, on the session bus): the
// way a Wayland desktop lets an ordinary program control it. The user allows
// it once in the desktop's own dialog; the restore token the portal returns
// after each start lets the next start go without a dialog.
//
// The session (CreateSession, SelectDevices for keyboard and pointer, Start)
// is negotiated on the poster's own thread with its own GLib main context,
// so a dialog the user leaves open never holds up the caller or the posting
// thread. Each step waits for its Request's Response signal, boundedly.
//
// post() sends each event as one method call and does not wait for a reply.
// The pointer moves by the phone's delta (the portal cannot say where the
// pointer is, so keeping it on the displays is the compositor's business);
// buttons go by evdev code; the wheel as pixels, with the end of a finger
// scroll marked, or as whole steps where only steps make sense (zooming);
// keys and text as keysyms, so the keyboard layout is respected. Events are
// dropped while no session runs. The posting thread is one thread at a time
// (the I/O thread); everything else may be called from any thread.
class PortalPoster final : public LinuxEventSink {
public:
    enum class State : std::uint8_t {
        idle,     // no session asked for yet
        starting, // asked; waiting for the portal or the user
        active,   // posting reaches the desktop
        refused,  // the user, the portal or a time limit said no
        ended,    // the session was closed by the desktop, or the bus went
    };
    // Runs on the poster's thread on each change of state; for refused and
    // ended with a sentence to show.
    using Report = std::function<void(State state, const std::string& why)>;

    struct Options {
        std::string busAddress;   // empty: the session bus
        std::string restoreToken; // from the last start; empty for none
        // Runs on the poster's thread after each successful start, with the
        // token that restores this session next time; empty when the portal
        // gave none (the one sent is used up either way).
        std::function<void(const std::string& token)> onToken;
        Report onChange;
        // Reading the portal's devices, each method call, and the Responses
        // of CreateSession and SelectDevices.
        std::chrono::milliseconds stepLimit {10'000};
        // The Response of Start, which waits for the user's answer.
        std::chrono::milliseconds answerLimit {300'000};
    };

    static constexpr std::uint32_t keyboard = 1, pointer = 2; // AvailableDeviceTypes bits

    // Connects and checks that the portal offers a keyboard and a pointer.
    // Null otherwise, with the reason in `why` when given. Waits at most
    // about stepLimit. Starts no session.
    static std::unique_ptr<PortalPoster> open(Options options, std::string* why = nullptr);

    // Lets go of every key and button still held while the session exists,
    // closes it and stops the thread.
    ~PortalPoster() noexcept override;
    PortalPoster(const PortalPoster&) = delete;
    PortalPoster& operator=(const PortalPoster&) = delete;

    // Asks for a session unless one is starting or active; returns at once.
    void start();
    State state() const { return m_state.load(std::memory_order_acquire); }
    bool connected() const { return state() == State::active; }

    void post(std::span<const LinuxEvent> events) override;

private:
    using Next = void (PortalPoster::*)(GVariant* results);
    // What the posting thread needs of an active session; replaced whole.
    struct Session {
        std::string handle;
    };

    PortalPoster(Options options, GMainContext* context, GDBusConnection* connection);

    // The poster's thread.
    void onThread(std::function<void()> task);
    void begin();
    std::string requestOptions(GVariantBuilder& options);
    void request(const char* method, GVariant* parameters, const std::string& token, std::chrono::milliseconds limit,
        Next next);
    void answered(std::uint32_t response, GVariant* results);
    void created(GVariant* results);
    void selected(GVariant* results);
    void started(GVariant* results);
    void fail(const std::string& why);
    void closed(const std::string& why);
    void forgetRequest();
    void forgetSession();
    void setState(State state, const std::string& why = {});
    void shutDown();
    static void onCallReply(GObject* source, GAsyncResult* result, void* self);
    static void onResponse(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
        void* self);
    static void onSessionClosed(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*, void* self);
    static int onTimeout(void* self);
    static void onBusClosed(GDBusConnection*, int remotePeerVanished, GError* error, void* self);

    // The posting thread (and the destructor).
    void notify(const char* method, GVariant* parameters);
    void key(const Session& session, std::int32_t keysym, bool down);
    void releaseHeld(const Session& session);

    Options m_options;
    GMainContext* m_context;
    GDBusConnection* m_connection;
    GMainLoop* m_loop;
    GCancellable* m_cancellable;
    std::atomic<State> m_state {State::idle};
    std::atomic<std::shared_ptr<const Session>> m_session; // null while none is active
    std::array<std::int32_t, 0x300> m_keysyms {};          // evdev code -> keysym, 0 for none

    // The poster's thread only.
    unsigned m_counter = 0;
    unsigned m_responseSubscription = 0, m_closedSubscription = 0;
    unsigned long m_busClosedHandler = 0;
    GSource* m_timeout = nullptr;
    std::string m_requestPath, m_sessionHandle;
    Next m_next = nullptr;

    // The posting thread only.
    std::shared_ptr<const Session> m_posting;
    std::vector<std::int32_t> m_heldKeysyms;
    std::uint8_t m_heldButtons = 0;

    std::thread m_thread; // last: started once everything else is in place
};

} // namespace ferlow
