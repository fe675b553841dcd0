#include "FerlowLinux/PortalPoster.h"

#include <algorithm>

#include <gio/gio.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include "FerlowLinux/LinuxKeys.h"

namespace ferlow {

namespace {

constexpr const char* portalBus = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* remoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* requestInterface = "org.freedesktop.portal.Request";
constexpr const char* sessionInterface = "org.freedesktop.portal.Session";
constexpr std::uint32_t persistUntilRevoked = 2;
constexpr std::uint32_t userCancelled = 1;
// Writing out what is still queued when the poster goes.
constexpr guint flushLimitMs = 1000;

constexpr std::int32_t evdevButtons[] = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};

gboolean quit(void* loop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

GVariant* emptyOptions() { return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0); }

guint milliseconds(std::chrono::milliseconds limit)
{
    return static_cast<guint>(std::clamp<std::chrono::milliseconds::rep>(limit.count(), 1, G_MAXINT));
}

// The Request object a call will answer on (org.freedesktop.portal.Request):
// the caller's unique name without its colon, dots made underscores.
std::string requestPath(GDBusConnection* connection, const std::string& token)
{
    std::string sender = g_dbus_connection_get_unique_name(connection);
    if (!sender.empty() && sender.front() == ':')
        sender.erase(0, 1);
    std::replace(sender.begin(), sender.end(), '.', '_');
    return std::string(portalPath) + "/request/" + sender + "/" + token;
}

std::string minutes(std::chrono::milliseconds limit)
{
    const auto count = std::chrono::duration_cast<std::chrono::minutes>(limit).count();
    if (count >= 1)
        return std::to_string(count) + (count == 1 ? " minute" : " minutes");
    const auto seconds = std::max<std::int64_t>(1, std::chrono::duration_cast<std::chrono::seconds>(limit).count());
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

} // namespace

std::unique_ptr<PortalPoster> PortalPoster::open(Options options, std::string* why)
{
    const auto fail = [why](const std::string& reason) -> std::unique_ptr<PortalPoster> {
        if (why)
            *why = reason;
        return nullptr;
    };
    // The connection is made with the poster's context as the thread's
    // default, so that GDBus tells of its end there.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    g_autoptr(GError) error = nullptr;
    g_autofree char* address = options.busAddress.empty()
        ? g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error)
        : g_strdup(options.busAddress.c_str());
    GDBusConnection* connection = address
        ? g_dbus_connection_new_for_address_sync(address,
              GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                  | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
              nullptr, nullptr, &error)
        : nullptr;
    g_main_context_pop_thread_default(context);
    if (!connection) {
        g_main_context_unref(context);
        return fail(std::string("no session bus (") + (error ? error->message : "unknown") + ")");
    }

    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(connection, portalBus, portalPath,
        "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", remoteDesktop, "AvailableDeviceTypes"),
        G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(milliseconds(options.stepLimit)), nullptr,
        &error);
    std::uint32_t types = 0;
    if (reply) {
        g_autoptr(GVariant) value = nullptr;
        g_variant_get(reply, "(v)", &value);
        if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32))
            types = g_variant_get_uint32(value);
    }
    std::string problem;
    if (!reply)
        problem = std::string("no RemoteDesktop portal on the session bus (") + error->message + ")";
    else if ((types & (keyboard | pointer)) != (keyboard | pointer))
        problem = "the desktop\u2019s RemoteDesktop portal offers no "
            + std::string((types & pointer) ? "keyboard" : (types & keyboard) ? "pointer" : "keyboard or pointer");
    if (!problem.empty()) {
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
        g_main_context_unref(context);
        return fail(problem);
    }
    return std::unique_ptr<PortalPoster>(new PortalPoster(std::move(options), context, connection));
}

PortalPoster::PortalPoster(Options options, GMainContext* context, GDBusConnection* connection)
    : m_options(std::move(options))
    , m_context(context)
    , m_connection(connection)
    , m_loop(g_main_loop_new(context, FALSE))
    , m_cancellable(g_cancellable_new())
{
    for (const auto& row : LinuxKeys::all())
        if (row.evdev < m_keysyms.size())
            m_keysyms[row.evdev] = static_cast<std::int32_t>(
                xkb_keysym_from_name(std::string(row.keysym).c_str(), XKB_KEYSYM_NO_FLAGS));
    m_busClosedHandler = g_signal_connect(m_connection, "closed", G_CALLBACK(onBusClosed), this);
    m_thread = std::thread([this] {
        g_main_context_push_thread_default(m_context);
        g_main_loop_run(m_loop);
        g_main_context_pop_thread_default(m_context);
    });
}

PortalPoster::~PortalPoster() noexcept
{
    if (const auto session = m_session.load(std::memory_order_acquire); session && session == m_posting)
        releaseHeld(*session);
    onThread([this] { shutDown(); });
    m_thread.join();
    // Completions of the cancelled calls, which touch nothing of the poster.
    g_main_context_push_thread_default(m_context);
    while (g_main_context_iteration(m_context, FALSE)) {
    }
    g_main_context_pop_thread_default(m_context);
    g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
    g_object_unref(m_connection);
    g_object_unref(m_cancellable);
    g_main_loop_unref(m_loop);
    g_main_context_unref(m_context);
}

void PortalPoster::start()
{
    // Marked at once, so that a caller reading state() next sees the
    // request under way rather than the state before it.
    auto now = state();
    do {
        if (now == State::starting || now == State::active)
            return;
    } while (!m_state.compare_exchange_weak(now, State::starting, std::memory_order_acq_rel));
    onThread([this] { begin(); });
}

// Always through the context's queue, never run in place, so that the
// session's work stays on the poster's thread whoever asks.
void PortalPoster::onThread(std::function<void()> task)
{
    GSource* source = g_idle_source_new();
    g_source_set_callback(
        source,
        [](void* data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(task)), [](void* data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source, m_context);
    g_source_unref(source);
}

// Told before it is seen: whoever reads the new state finds its report made.
void PortalPoster::setState(State state, const std::string& why)
{
    if (m_options.onChange)
        m_options.onChange(state, why);
    m_state.store(state, std::memory_order_release);
}

void PortalPoster::begin()
{
    if (m_options.onChange)
        m_options.onChange(State::starting, {});
    GVariantBuilder options;
    const std::string token = requestOptions(options);
    g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(token.c_str()));
    request("CreateSession", g_variant_new("(a{sv})", &options), token, m_options.stepLimit, &PortalPoster::created);
}

// Starts the options of a call answered through a Request with the token
// that names the Request, and returns the token.
std::string PortalPoster::requestOptions(GVariantBuilder& options)
{
    const std::string token = "ferlow" + std::to_string(++m_counter);
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    return token;
}

// Calls one method of the portal that answers through a Request: listens on
// the Request's path first (it is known from the token), so that a quick
// Response cannot be missed, and gives up after `limit`.
void PortalPoster::request(
    const char* method, GVariant* parameters, const std::string& token, std::chrono::milliseconds limit, Next next)
{
    m_requestPath = requestPath(m_connection, token);
    m_next = next;
    m_responseSubscription = g_dbus_connection_signal_subscribe(m_connection, portalBus, requestInterface, "Response",
        m_requestPath.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse, this, nullptr);
    m_timeout = g_timeout_source_new(milliseconds(limit));
    g_source_set_callback(m_timeout, onTimeout, this, nullptr);
    g_source_attach(m_timeout, m_context);
    g_dbus_connection_call(m_connection, portalBus, portalPath, remoteDesktop, method, parameters,
        G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(milliseconds(m_options.stepLimit)),
        m_cancellable, onCallReply, this);
}

void PortalPoster::onCallReply(GObject* source, GAsyncResult* result, void* self)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
        return; // the Response follows, or the poster is going
    auto* poster = static_cast<PortalPoster*>(self);
    if (!poster->m_responseSubscription)
        return; // given up already
    g_dbus_error_strip_remote_error(error);
    poster->fail(
        std::string("The desktop\u2019s portal could not start remote control for Ferlow: ") + error->message + ".");
}

void PortalPoster::onResponse(
    GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, void* self)
{
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})")))
        return;
    std::uint32_t response = 0;
    g_autoptr(GVariant) results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &response, &results);
    static_cast<PortalPoster*>(self)->answered(response, results);
}

void PortalPoster::answered(std::uint32_t response, GVariant* results)
{
    const Next next = m_next;
    forgetRequest();
    if (response == userCancelled)
        fail("The desktop did not allow Ferlow to control the pointer and keyboard.");
    else if (response != 0)
        fail("The desktop\u2019s portal could not start remote control for Ferlow.");
    else
        (this->*next)(results);
}

int PortalPoster::onTimeout(void* self)
{
    auto* poster = static_cast<PortalPoster*>(self);
    const bool waitedForUser = poster->m_next == &PortalPoster::started;
    // The portal takes this as the caller giving up, and closes its dialog.
    g_dbus_connection_call(poster->m_connection, portalBus, poster->m_requestPath.c_str(), requestInterface, "Close",
        nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    poster->fail(std::string("The desktop did not answer Ferlow\u2019s request to control the pointer within ")
        + minutes(waitedForUser ? poster->m_options.answerLimit : poster->m_options.stepLimit) + ".");
    return G_SOURCE_REMOVE;
}

void PortalPoster::created(GVariant* results)
{
    // A string in version 1 of the portal, an object path since.
    g_autoptr(GVariant) handle = g_variant_lookup_value(results, "session_handle", nullptr);
    const char* path = handle && (g_variant_is_of_type(handle, G_VARIANT_TYPE_STRING)
                                     || g_variant_is_of_type(handle, G_VARIANT_TYPE_OBJECT_PATH))
        ? g_variant_get_string(handle, nullptr)
        : nullptr;
    if (!path || !g_variant_is_object_path(path)) {
        fail("The desktop\u2019s portal could not start remote control for Ferlow: it named no session.");
        return;
    }
    m_sessionHandle = path;
    m_closedSubscription = g_dbus_connection_signal_subscribe(m_connection, portalBus, sessionInterface, "Closed",
        path, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onSessionClosed, this, nullptr);

    GVariantBuilder options;
    const std::string token = requestOptions(options);
    g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(keyboard | pointer));
    g_variant_builder_add(&options, "{sv}", "persist_mode", g_variant_new_uint32(persistUntilRevoked));
    if (!m_options.restoreToken.empty())
        g_variant_builder_add(&options, "{sv}", "restore_token", g_variant_new_string(m_options.restoreToken.c_str()));
    request("SelectDevices", g_variant_new("(oa{sv})", path, &options), token, m_options.stepLimit,
        &PortalPoster::selected);
}

void PortalPoster::selected(GVariant*)
{
    GVariantBuilder options;
    const std::string token = requestOptions(options);
    request("Start", g_variant_new("(osa{sv})", m_sessionHandle.c_str(), "", &options), token, m_options.answerLimit,
        &PortalPoster::started);
}

void PortalPoster::started(GVariant* results)
{
    // A token is good for one start; the portal hands out the next one.
    const char* token = nullptr;
    m_options.restoreToken = g_variant_lookup(results, "restore_token", "&s", &token) ? token : "";
    if (m_options.onToken)
        m_options.onToken(m_options.restoreToken);
    std::uint32_t devices = 0;
    g_variant_lookup(results, "devices", "u", &devices);
    if ((devices & (keyboard | pointer)) != (keyboard | pointer)) {
        fail("The desktop did not give Ferlow both the pointer and the keyboard.");
        return;
    }
    m_session.store(std::make_shared<const Session>(Session {m_sessionHandle}), std::memory_order_release);
    setState(State::active);
}

void PortalPoster::onSessionClosed(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*, void* self)
{
    static_cast<PortalPoster*>(self)->closed("The desktop ended Ferlow\u2019s control of the pointer and keyboard.");
}

void PortalPoster::onBusClosed(GDBusConnection*, int, GError*, void* self)
{
    static_cast<PortalPoster*>(self)->closed(
        "The connection to the desktop\u2019s portal was lost; Ferlow no longer controls the pointer and keyboard.");
}

// The session is gone on the desktop's side: nothing is left to release.
void PortalPoster::closed(const std::string& why)
{
    m_sessionHandle.clear();
    const auto was = state();
    if (was == State::starting) {
        fail(why);
    } else if (was == State::active) {
        forgetSession();
        setState(State::ended, why);
    }
}

void PortalPoster::fail(const std::string& why)
{
    forgetRequest();
    forgetSession();
    setState(State::refused, why);
}

void PortalPoster::forgetRequest()
{
    if (m_responseSubscription)
        g_dbus_connection_signal_unsubscribe(m_connection, m_responseSubscription);
    m_responseSubscription = 0;
    if (m_timeout) {
        g_source_destroy(m_timeout);
        g_source_unref(m_timeout);
        m_timeout = nullptr;
    }
    m_next = nullptr;
}

// Closes the session unless the desktop already did.
void PortalPoster::forgetSession()
{
    m_session.store(nullptr, std::memory_order_release);
    if (m_closedSubscription)
        g_dbus_connection_signal_unsubscribe(m_connection, m_closedSubscription);
    m_closedSubscription = 0;
    if (!m_sessionHandle.empty())
        g_dbus_connection_call(m_connection, portalBus, m_sessionHandle.c_str(), sessionInterface, "Close", nullptr,
            nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    m_sessionHandle.clear();
}

void PortalPoster::shutDown()
{
    g_signal_handler_disconnect(m_connection, m_busClosedHandler);
    g_cancellable_cancel(m_cancellable);
    forgetRequest();
    forgetSession();
    // What was sent reaches the bus before the connection closes, if the
    // bus takes it within the limit.
    g_dbus_connection_flush(m_connection, nullptr, [](GObject*, GAsyncResult*, void* loop) { quit(loop); }, m_loop);
    GSource* limit = g_timeout_source_new(flushLimitMs);
    g_source_set_callback(limit, quit, m_loop, nullptr);
    g_source_attach(limit, m_context);
    g_source_unref(limit);
}

void PortalPoster::notify(const char* method, GVariant* parameters)
{
    // Without a callback GDBus marks the call as wanting no reply and only
    // queues it for its writer thread.
    g_dbus_connection_call(m_connection, portalBus, portalPath, remoteDesktop, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

void PortalPoster::key(const Session& session, std::int32_t keysym, bool down)
{
    const auto held = std::find(m_heldKeysyms.begin(), m_heldKeysyms.end(), keysym);
    if (down && held == m_heldKeysyms.end())
        m_heldKeysyms.push_back(keysym);
    else if (!down && held != m_heldKeysyms.end())
        m_heldKeysyms.erase(held);
    notify("NotifyKeyboardKeysym",
        g_variant_new("(o@a{sv}iu)", session.handle.c_str(), emptyOptions(), keysym, down ? 1u : 0u));
}

void PortalPoster::releaseHeld(const Session& session)
{
    for (std::size_t i = 0; i < std::size(evdevButtons); ++i)
        if (m_heldButtons & (1u << i))
            notify("NotifyPointerButton",
                g_variant_new("(o@a{sv}iu)", session.handle.c_str(), emptyOptions(), evdevButtons[i], 0u));
    m_heldButtons = 0;
    while (!m_heldKeysyms.empty())
        key(session, m_heldKeysyms.back(), false);
}

void PortalPoster::post(std::span<const LinuxEvent> events)
{
    const auto session = m_session.load(std::memory_order_acquire);
    if (session != m_posting) {
        // A new session starts with nothing held; an ended one took its
        // presses with it.
        m_posting = session;
        m_heldButtons = 0;
        m_heldKeysyms.clear();
    }
    if (!session)
        return;
    const char* handle = session->handle.c_str();
    constexpr double pixelsPerUnit = LinuxEvent::pixelsPerDetent / LinuxEvent::unitsPerDetent;
    for (const auto& event : events) {
        if (const auto* motion = event.as<LinuxEvent::Motion>()) {
            if (motion->dx != 0 || motion->dy != 0)
                notify("NotifyPointerMotion", g_variant_new("(o@a{sv}dd)", handle, emptyOptions(), double(motion->dx),
                                                  double(motion->dy)));
        } else if (const auto* button = event.as<LinuxEvent::PointerButton>()) {
            const auto bit = static_cast<std::uint8_t>(1u << static_cast<unsigned>(button->button));
            m_heldButtons = static_cast<std::uint8_t>(button->down ? m_heldButtons | bit : m_heldButtons & ~bit);
            notify("NotifyPointerButton", g_variant_new("(o@a{sv}iu)", handle, emptyOptions(),
                                              evdevButtons[static_cast<int>(button->button)], button->down ? 1u : 0u));
        } else if (const auto* wheel = event.as<LinuxEvent::Wheel>()) {
            // The portal counts down and right as positive, as evdev does.
            if (wheel->scrolling == LinuxEvent::Scrolling::detents) {
                const auto steps = [](std::int32_t units) { return units / LinuxEvent::unitsPerDetent; };
                if (steps(wheel->vertical) != 0)
                    notify("NotifyPointerAxisDiscrete",
                        g_variant_new("(o@a{sv}ui)", handle, emptyOptions(), 0u, -steps(wheel->vertical)));
                if (steps(wheel->horizontal) != 0)
                    notify("NotifyPointerAxisDiscrete",
                        g_variant_new("(o@a{sv}ui)", handle, emptyOptions(), 1u, steps(wheel->horizontal)));
                continue;
            }
            const bool finish = wheel->scrolling == LinuxEvent::Scrolling::finish;
            if (wheel->vertical == 0 && wheel->horizontal == 0 && !finish)
                continue;
            GVariantBuilder options;
            g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
            if (finish)
                g_variant_builder_add(&options, "{sv}", "finish", g_variant_new_boolean(TRUE));
            const auto pixels = [](std::int64_t units) { return static_cast<double>(units) * pixelsPerUnit; };
            notify("NotifyPointerAxis", g_variant_new("(oa{sv}dd)", handle, &options, pixels(wheel->horizontal),
                                            pixels(-std::int64_t(wheel->vertical))));
        } else if (const auto* k = event.as<LinuxEvent::Key>()) {
            if (k->code < m_keysyms.size() && m_keysyms[k->code] != XKB_KEY_NoSymbol)
                key(*session, m_keysyms[k->code], k->down);
        } else if (const auto* text = event.as<LinuxEvent::Text>()) {
            // Each character by its keysym: the named one where X has one
            // (Cyrillic_a, EuroSign), else its Unicode keysym.
            const char* at = text->utf8.data();
            const char* end = at + text->utf8.size();
            while (at < end) {
                const gunichar c = g_utf8_get_char_validated(at, end - at);
                if (c == gunichar(-1) || c == gunichar(-2)) {
                    ++at;
                    continue;
                }
                at = g_utf8_next_char(at);
                if (c < 0x20 || (c >= 0x7f && c < 0xa0))
                    continue;
                const auto keysym = static_cast<std::int32_t>(xkb_utf32_to_keysym(c));
                if (keysym == XKB_KEY_NoSymbol)
                    continue;
                key(*session, keysym, true);
                key(*session, keysym, false);
            }
        }
    }
}

} // namespace ferlow
