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

// Where the portal puts a request or session object: the caller's unique
// name without its colon and with dots as underscores, then the caller's token.
std::string objectPath(const char* kind, const std::string& sender, const char* token)
{
    std::string name = sender.substr(sender.starts_with(':') ? 1 : 0);
    std::replace(name.begin(), name.end(), '.', '_');
    return std::string(desktopPath) + "/" + kind + "/" + name + "/" + token;
}

std::string format(const char* pattern, auto... values)
{
    char line[160];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

} // namespace

FakePortal::FakePortal(const std::string& busAddress, std::uint32_t availableTypes)
    : m_availableTypes(availableTypes)
    , m_service(busAddress, "org.freedesktop.portal.Desktop", [this](const BusService::Call& call) { return respond(call); })
{
    m_service.own(true);
}

GVariant* FakePortal::respond(const BusService::Call& call)
{
    if (call.interface == "org.freedesktop.DBus.Properties") {
        const char* property = "";
        g_variant_get(call.parameters, "(&s&s)", nullptr, &property);
        return g_variant_new("(v)", g_variant_new_uint32(std::string_view(property) == "version" ? 2 : m_availableTypes));
    }
    if (call.interface == "org.freedesktop.portal.Session")
        record("Close");
    if (call.interface != "org.freedesktop.portal.RemoteDesktop")
        return nullptr;
    const std::string& name = call.method;
    if (name == "CreateSession" || name == "SelectDevices" || name == "Start")
        return request(call);
    const char* session = nullptr;
    g_autoptr(GVariant) options = nullptr;
    std::string line = name;
    if (name == "NotifyPointerMotion" || name == "NotifyPointerAxis") {
        double dx = 0, dy = 0;
        g_variant_get(call.parameters, "(&o@a{sv}dd)", &session, &options, &dx, &dy);
        gboolean finish = FALSE;
        g_variant_lookup(options, "finish", "b", &finish);
        line += format(" %g %g%s", dx, dy, finish ? " finish" : "");
    } else if (name == "NotifyPointerAxisDiscrete") {
        std::uint32_t axis = 0;
        std::int32_t steps = 0;
        g_variant_get(call.parameters, "(&o@a{sv}ui)", &session, &options, &axis, &steps);
        line += format(" %" PRIu32 " %" PRId32, axis, steps);
    } else {
        std::int32_t code = 0;
        std::uint32_t state = 0;
        g_variant_get(call.parameters, "(&o@a{sv}iu)", &session, &options, &code, &state);
        line += format(name == "NotifyKeyboardKeysym" ? " 0x%" PRIx32 " %" PRIu32 : " %" PRId32 " %" PRIu32, code, state);
    }
    {
        std::lock_guard lock(m_mutex);
        if (session != m_lastSession)
            line = "stale " + line;
    }
    record(line);
    return nullptr;
}

// org.freedesktop.portal.Request: the call returns the Request's path at
// once, the answer comes later as its Response signal.
GVariant* FakePortal::request(const BusService::Call& call)
{
    g_autoptr(GVariant) options = g_variant_get_child_value(call.parameters, g_variant_n_children(call.parameters) - 1);
    const char* token = "t";
    g_variant_lookup(options, "handle_token", "&s", &token);
    const std::string requestPath = objectPath("request", call.sender, token);

    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    std::uint32_t response = 0;
    std::string line = call.method;
    {
        std::lock_guard lock(m_mutex);
        response = m_responses.contains(call.method) ? m_responses[call.method] : 0;
        if (call.method == "CreateSession") {
            const char* sessionToken = "s";
            g_variant_lookup(options, "session_handle_token", "&s", &sessionToken);
            m_lastSession = objectPath("session", call.sender, sessionToken);
            g_variant_builder_add(&results, "{sv}", "session_handle", g_variant_new_string(m_lastSession.c_str()));
        } else if (call.method == "Start") {
            g_variant_builder_add(&results, "{sv}", "devices", g_variant_new_uint32(m_granted));
            g_variant_builder_add(&results, "{sv}", "restore_token",
                g_variant_new_string(("token-" + std::to_string(++m_tokens)).c_str()));
        }
    }
    if (call.method == "SelectDevices") {
        std::uint32_t types = 0, persist = 0;
        const char* restore = "none";
        g_variant_lookup(options, "types", "u", &types);
        g_variant_lookup(options, "persist_mode", "u", &persist);
        g_variant_lookup(options, "restore_token", "&s", &restore);
        line += format(" types=%" PRIu32 " persist=%" PRIu32 " token=%s", types, persist, restore);
    }
    record(line);
    if (response != silent)
        m_service.emit(requestPath, "org.freedesktop.portal.Request", "Response",
            g_variant_new("(ua{sv})", response, &results), call.sender);
    else
        g_variant_builder_clear(&results);
    return g_variant_new("(o)", requestPath.c_str());
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
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(line));
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
        return std::size_t(std::ranges::count_if(m_calls, [&](const auto& call) { return call.starts_with(prefix); })) >= count;
    });
}

void FakePortal::closeSession()
{
    std::string session;
    {
        std::lock_guard lock(m_mutex);
        session = m_lastSession;
    }
    m_service.emit(session, "org.freedesktop.portal.Session", "Closed", g_variant_new("(a{sv})", nullptr));
}

} // namespace ferlow::test
