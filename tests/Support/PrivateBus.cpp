#include "tests/Support/PrivateBus.h"

#include <vector>

#include <gio/gio.h>

namespace ferlow::test {

PrivateBus::PrivateBus()
{
    writeFile(m_folder.path() / "bus.conf",
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:dir="
            + m_folder.path().string()
            + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
              "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    m_server = std::make_unique<ServerProcess>(std::vector<std::string> {"dbus-daemon",
                                                   "--config-file=" + (m_folder.path() / "bus.conf").string(),
                                                   "--nofork", "--print-address={fd}"},
        10);
}

namespace {
thread_local std::vector<GDBusMessage*>* afterReply = nullptr; // signals emitted while answering
}

BusService::BusService(const std::string& busAddress, std::string name, Answer answer)
    : m_connection(g_dbus_connection_new_for_address_sync(busAddress.c_str(),
          GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, nullptr))
    , m_name(std::move(name))
    , m_answer(std::move(answer))
{
    if (m_connection)
        m_filter = g_dbus_connection_add_filter(m_connection, &filter, this, nullptr);
}

BusService::~BusService()
{
    if (!m_connection)
        return;
    g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
    g_dbus_connection_remove_filter(m_connection, m_filter);
    g_object_unref(m_connection);
}

bool BusService::own(bool on)
{
    g_autoptr(GVariant) reply = m_connection
        ? g_dbus_connection_call_sync(m_connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
              "org.freedesktop.DBus", on ? "RequestName" : "ReleaseName",
              on ? g_variant_new("(su)", m_name.c_str(), 0u) : g_variant_new("(s)", m_name.c_str()), nullptr,
              G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr)
        : nullptr;
    return reply != nullptr;
}

void BusService::emit(
    const std::string& path, const char* interface, const char* signal, GVariant* parameters, const std::string& destination)
{
    GDBusMessage* message = g_dbus_message_new_signal(path.c_str(), interface, signal);
    g_dbus_message_set_body(message, parameters);
    if (!destination.empty())
        g_dbus_message_set_destination(message, destination.c_str());
    if (afterReply)
        return afterReply->push_back(message);
    g_dbus_connection_send_message(m_connection, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
    g_object_unref(message);
}

GDBusMessage* BusService::filter(GDBusConnection* connection, GDBusMessage* message, int incoming, void* self)
{
    if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
        return message;
    const auto text = [](const char* value) { return std::string(value ? value : ""); };
    const Call call {text(g_dbus_message_get_sender(message)), text(g_dbus_message_get_path(message)),
        text(g_dbus_message_get_interface(message)), text(g_dbus_message_get_member(message)),
        g_dbus_message_get_body(message)};
    std::vector<GDBusMessage*> signals;
    afterReply = &signals;
    GVariant* body = static_cast<BusService*>(self)->m_answer(call);
    afterReply = nullptr;
    signals.insert(signals.begin(), g_dbus_message_new_method_reply(message));
    if (body)
        g_dbus_message_set_body(signals.front(), body);
    for (auto* out : signals) {
        g_dbus_connection_send_message(connection, out, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
        g_object_unref(out);
    }
    g_object_unref(message);
    return nullptr;
}

} // namespace ferlow::test
