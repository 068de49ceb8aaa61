// fake_panel: stands for a desktop's panel on a private session bus, so the desktop tests can see
// the tray icon and the notifications without a desktop. It owns the StatusNotifierWatcher (the
// panel's registry of tray icons) and the notification service, and prints one JSON line on
// standard output for each thing an application does with them:
//   {"event":"ready"}                                  both names are owned
//   {"event":"item","sender":":1.4","name":"/org/..."} an icon registered (name as given)
//   {"event":"notify","summary":"...","body":"...","icon":"..."}
// It runs until SIGTERM or SIGINT.
#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <string>

namespace {

constexpr char kIntrospection[] = R"XML(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
  </interface>
</node>)XML";

GVariantBuilder* items = nullptr;
guint32 notifications = 0;
int namesOwned = 0;

std::string JsonString(const char* text) {
    gchar* quoted = g_strescape(text, nullptr);  // JSON reads these escapes alike for our texts
    std::string out = std::string("\"") + quoted + "\"";
    g_free(quoted);
    return out;
}

void Emit(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void OnCall(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar* interface,
            const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
            gpointer) {
    const std::string name = method;
    if (name == "RegisterStatusNotifierItem") {
        const gchar* service = nullptr;
        g_variant_get(parameters, "(&s)", &service);
        g_variant_builder_add(items, "s", service);
        Emit(std::string(R"({"event":"item","sender":)") + JsonString(sender) + R"(,"name":)" +
             JsonString(service) + "}");
        g_dbus_connection_emit_signal(bus, nullptr, "/StatusNotifierWatcher", interface,
                                      "StatusNotifierItemRegistered", g_variant_new("(s)", service),
                                      nullptr);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (name == "RegisterStatusNotifierHost") {
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (name == "Notify") {
        const gchar *icon = nullptr, *summary = nullptr, *body = nullptr;
        g_variant_get(parameters, "(&su&s&s&s@as@a{sv}i)", nullptr, nullptr, &icon, &summary, &body,
                      nullptr, nullptr, nullptr);
        Emit(std::string(R"({"event":"notify","summary":)") + JsonString(summary) + R"(,"body":)" +
             JsonString(body) + R"(,"icon":)" + JsonString(icon) + "}");
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", ++notifications));
    } else if (name == "CloseNotification") {
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (name == "GetCapabilities") {
        const gchar* caps[] = {"body", nullptr};
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", caps));
    } else {
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(ssss)", "fake_panel", "quillon tests", "1", "1.2"));
    }
}

GVariant* OnProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                     const gchar* property, GError**, gpointer) {
    const std::string name = property;
    if (name == "RegisteredStatusNotifierItems") {
        GVariant* list = g_variant_builder_end(items);
        g_variant_builder_unref(items);
        items = g_variant_builder_new(G_VARIANT_TYPE("as"));
        GVariantIter iter;
        const gchar* item = nullptr;
        g_variant_iter_init(&iter, list);
        while (g_variant_iter_next(&iter, "&s", &item)) g_variant_builder_add(items, "s", item);
        return list;
    }
    if (name == "IsStatusNotifierHostRegistered") return g_variant_new_boolean(TRUE);
    return g_variant_new_int32(0);
}

void OnNameAcquired(GDBusConnection*, const gchar*, gpointer) {
    if (++namesOwned == 2) Emit(R"({"event":"ready"})");
}

void OnNameLost(GDBusConnection*, const gchar* name, gpointer loop) {
    std::fprintf(stderr, "fake_panel: could not own %s\n", name);
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
}

gboolean OnSignal(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) {
        std::fprintf(stderr, "fake_panel: no session bus: %s\n", error->message);
        return 1;
    }
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {OnCall, OnProperty, nullptr, {}};
    g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", node->interfaces[0], &vtable,
                                      nullptr, nullptr, nullptr);
    g_dbus_connection_register_object(bus, "/org/freedesktop/Notifications", node->interfaces[1],
                                      &vtable, nullptr, nullptr, nullptr);
    items = g_variant_builder_new(G_VARIANT_TYPE("as"));

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    for (const char* name : {"org.kde.StatusNotifierWatcher", "org.freedesktop.Notifications"}) {
        g_bus_own_name_on_connection(bus, name, G_BUS_NAME_OWNER_FLAGS_NONE, OnNameAcquired,
                                     OnNameLost, loop, nullptr);
    }
    g_unix_signal_add(SIGTERM, OnSignal, loop);
    g_unix_signal_add(SIGINT, OnSignal, loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    g_dbus_node_info_unref(node);
    g_object_unref(bus);
    return 0;
}
