// A Secret Service that takes the bus name and never answers a call: a keyring stuck behind
// an unlock prompt nobody answers. Usage: silent_secret_service BUS_ADDRESS; prints "ready"
// once it owns the name, then runs until killed.
#include <gio/gio.h>

#include <cstdio>

namespace {

// Every call that reaches this connection is dropped before GDBus could answer it (with an
// error for an unknown object): the caller waits until it gives up.
GDBusMessage* dropCalls(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) {
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
        g_object_unref(message);
        return nullptr;
    }
    return message;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        argv[1],
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!bus)
        return 1;
    g_dbus_connection_add_filter(bus, dropCalls, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.secrets", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
        nullptr, &error);
    if (!reply)
        return 1;
    g_variant_unref(reply);
    std::printf("ready\n");
    std::fflush(stdout);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
