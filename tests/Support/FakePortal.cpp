#include "tests/Support/FakePortal.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include <gio/gio.h>

namespace ferlow::test {

namespace {

constexpr std::uint32_t silent = std::numeric_limits<std::uint32_t>::max();
constexpr const char* desktopPath = "/org/freedesktop/portal/desktop";

constexpr const char* introspection = R"(<node>
  <interface name="org.freedesktop.portal.RemoteDesktop">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="SelectDevices"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="o" direction="out"/></method>
    <method name="Start"><arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="o" direction="out"/></method>
    <method name="NotifyPointerMotion"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="d" direction="in"/><arg type="d" direction="in"/></method>
    <method name="NotifyPointerButton"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="i" direction="in"/><arg type="u" direction="in"/></method>
    <method name="NotifyPointerAxis"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="d" direction="in"/><arg type="d" direction="in"/></method>
    <method name="NotifyPointerAxisDiscrete"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="u" direction="in"/><arg type="i" direction="in"/></method>
    <method name="NotifyKeyboardKeysym"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="i" direction="in"/><arg type="u" direction="in"/></method>
    <property name="AvailableDeviceTypes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.portal.Session">
    <method name="Close"/>
    <signal name="Closed"><arg type="a{sv}"/></signal>
  </interface>
</node>)";

std::string escapedSender(const char* sender)
{
    std::string name = sender + (sender[0] == ':' ? 1 : 0);
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

std::string format(const char* pattern, auto... values)
{
    char line[160];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

} // namespace

struct FakePortal::Handlers {
    static void call(GDBusConnection* connection, const char* sender, const char* path, const char* interface,
        const char* method, GVariant* parameters, GDBusMethodInvocation* invocation, void* data)
    {
        auto* portal = static_cast<FakePortal*>(data);
        const std::string name = method;
        if (std::string_view(interface) == "org.freedesktop.portal.Session") {
            portal->record("Close");
            g_dbus_method_invocation_return_value(invocation, nullptr);
            return;
        }
        if (name == "CreateSession" || name == "SelectDevices" || name == "Start") {
            request(portal, connection, sender, path, name, parameters, invocation);
            return;
        }
        const char* session = nullptr;
        g_autoptr(GVariant) options = nullptr;
        std::string line = name;
        if (name == "NotifyPointerMotion" || name == "NotifyPointerAxis") {
            double dx = 0, dy = 0;
            g_variant_get(parameters, "(&o@a{sv}dd)", &session, &options, &dx, &dy);
            gboolean finish = FALSE;
            g_variant_lookup(options, "finish", "b", &finish);
            line += format(" %g %g%s", dx, dy, finish ? " finish" : "");
        } else if (name == "NotifyPointerAxisDiscrete") {
            std::uint32_t axis = 0;
            std::int32_t steps = 0;
            g_variant_get(parameters, "(&o@a{sv}ui)", &session, &options, &axis, &steps);
            line += format(" %" PRIu32 " %" PRId32, axis, steps);
        } else {
            std::int32_t code = 0;
            std::uint32_t state = 0;
            g_variant_get(parameters, "(&o@a{sv}iu)", &session, &options, &code, &state);
            line += format(name == "NotifyKeyboardKeysym" ? " 0x%" PRIx32 " %" PRIu32 : " %" PRId32 " %" PRIu32, code,
                state);
        }
        {
            std::lock_guard lock(portal->m_mutex);
            if (session != portal->m_lastSession)
                line = "stale " + line;
        }
        portal->record(line);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }

    // org.freedesktop.portal.Request: the call returns the Request's path at
    // once, the answer comes later as its Response signal.
    static void request(FakePortal* portal, GDBusConnection* connection, const char* sender, const char*,
        const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation)
    {
        GVariant* options = g_variant_get_child_value(parameters, g_variant_n_children(parameters) - 1);
        const char* token = "t";
        g_variant_lookup(options, "handle_token", "&s", &token);
        const std::string requestPath = std::string(desktopPath) + "/request/" + escapedSender(sender) + "/" + token;

        GVariantBuilder results;
        g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
        std::uint32_t response = 0;
        {
            std::lock_guard lock(portal->m_mutex);
            response = portal->m_responses.contains(method) ? portal->m_responses[method] : 0;
            if (method == "CreateSession") {
                const char* sessionToken = "s";
                g_variant_lookup(options, "session_handle_token", "&s", &sessionToken);
                portal->m_lastSession = std::string(desktopPath) + "/session/" + escapedSender(sender) + "/" + sessionToken;
                g_variant_builder_add(&results, "{sv}", "session_handle", g_variant_new_string(portal->m_lastSession.c_str()));
                g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(introspection, nullptr);
                static const GDBusInterfaceVTable vtable {call, nullptr, nullptr, {}};
                g_dbus_connection_register_object(connection, portal->m_lastSession.c_str(), node->interfaces[1], &vtable,
                    portal, nullptr, nullptr);
            } else if (method == "Start") {
                g_variant_builder_add(&results, "{sv}", "devices", g_variant_new_uint32(portal->m_granted));
                g_variant_builder_add(&results, "{sv}", "restore_token",
                    g_variant_new_string(("token-" + std::to_string(++portal->m_tokens)).c_str()));
            }
        }
        std::string line = method;
        if (method == "SelectDevices") {
            std::uint32_t types = 0, persist = 0;
            const char* restore = "none";
            g_variant_lookup(options, "types", "u", &types);
            g_variant_lookup(options, "persist_mode", "u", &persist);
            g_variant_lookup(options, "restore_token", "&s", &restore);
            line += format(" types=%" PRIu32 " persist=%" PRIu32 " token=%s", types, persist, restore);
        }
        g_variant_unref(options);
        portal->record(line);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", requestPath.c_str()));
        if (response != silent)
            g_dbus_connection_emit_signal(connection, sender, requestPath.c_str(), "org.freedesktop.portal.Request",
                "Response", g_variant_new("(ua{sv})", response, &results), nullptr);
        else
            g_variant_builder_clear(&results);
    }

    static GVariant* property(GDBusConnection*, const char*, const char*, const char*, const char* name, GError**, void* data)
    {
        auto* portal = static_cast<FakePortal*>(data);
        return g_variant_new_uint32(std::string_view(name) == "version" ? 2 : portal->m_availableTypes);
    }
};

FakePortal::FakePortal(const std::string& busAddress, std::uint32_t availableTypes)
    : m_context(g_main_context_new())
    , m_loop(g_main_loop_new(m_context, FALSE))
    , m_availableTypes(availableTypes)
{
    g_main_context_push_thread_default(m_context);
    m_connection = g_dbus_connection_new_for_address_sync(busAddress.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (m_connection) {
        g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(introspection, nullptr);
        static const GDBusInterfaceVTable vtable {Handlers::call, Handlers::property, nullptr, {}};
        m_object = g_dbus_connection_register_object(m_connection, desktopPath, node->interfaces[0], &vtable, this,
            nullptr, nullptr);
        g_autoptr(GVariant) owned = g_dbus_connection_call_sync(m_connection, "org.freedesktop.DBus",
            "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
            5000, nullptr, nullptr);
    }
    g_main_context_pop_thread_default(m_context);
    m_thread = std::thread([this] {
        g_main_context_push_thread_default(m_context);
        g_main_loop_run(m_loop);
        g_main_context_pop_thread_default(m_context);
    });
}

FakePortal::~FakePortal()
{
    g_main_context_invoke(
        m_context, [](void* loop) -> gboolean { return g_main_loop_quit(static_cast<GMainLoop*>(loop)), G_SOURCE_REMOVE; },
        m_loop);
    m_thread.join();
    if (m_connection) {
        g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
        g_object_unref(m_connection);
    }
    g_main_loop_unref(m_loop);
    g_main_context_unref(m_context);
}

void FakePortal::answer(const std::string& method, std::uint32_t response)
{
    std::lock_guard lock(m_mutex);
    m_responses[method] = response;
}

void FakePortal::silence(const std::string& method) { answer(method, silent); }

void FakePortal::grant(std::uint32_t devices)
{
    std::lock_guard lock(m_mutex);
    m_granted = devices;
}

void FakePortal::record(std::string line)
{
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(line));
    }
    m_recorded.notify_all();
}

std::vector<std::string> FakePortal::calls(const std::string& prefix) const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> matching;
    std::copy_if(m_calls.begin(), m_calls.end(), std::back_inserter(matching),
        [&](const std::string& call) { return call.starts_with(prefix); });
    return matching;
}

bool FakePortal::waitFor(const std::string& prefix, std::size_t count) const
{
    std::unique_lock lock(m_mutex);
    return m_recorded.wait_for(lock, patience, [&] {
        return std::size_t(std::count_if(m_calls.begin(), m_calls.end(),
                   [&](const std::string& call) { return call.starts_with(prefix); }))
            >= count;
    });
}

void FakePortal::closeSession()
{
    std::string session;
    {
        std::lock_guard lock(m_mutex);
        session = m_lastSession;
    }
    g_dbus_connection_emit_signal(m_connection, nullptr, session.c_str(), "org.freedesktop.portal.Session", "Closed",
        g_variant_new("(@a{sv})", g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)), nullptr);
}

} // namespace ferlow::test
