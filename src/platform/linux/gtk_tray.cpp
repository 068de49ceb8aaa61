#include "platform/linux/gtk_tray.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <libnotify/notify.h>

#include <deque>
#include <utility>

namespace quillon::lnx {

namespace {

constexpr char kIndicatorId[] = "quillon";
constexpr char kApplicationName[] = "Quillon";
constexpr int kBusCallTimeoutMs = 1000;

bool StatusNotifierWatcherOnBus() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) {
        g_clear_error(&error);
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.kde.StatusNotifierWatcher"),
        G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr, &error);
    g_object_unref(bus);
    if (reply == nullptr) {
        g_clear_error(&error);
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned != FALSE;
}

bool XEmbedTrayOnDisplay() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
    Display* x = GDK_DISPLAY_XDISPLAY(display);
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(x));
    return XGetSelectionOwner(x, XInternAtom(x, name.c_str(), False)) != None;
}

}  // namespace

bool TrayHostPresent(int waitMs) {
    constexpr int kPollMs = 250;
    for (int waited = 0;; waited += kPollMs) {
        if (StatusNotifierWatcherOnBus() || XEmbedTrayOnDisplay()) return true;
        if (waited >= waitMs) return false;
        g_usleep(kPollMs * 1000);
    }
}

struct GtkTray::Impl {
    explicit Impl(std::filesystem::path icon) : iconFile(std::move(icon)) {}

    const std::filesystem::path iconFile;
    AppIndicator* indicator = nullptr;
    std::function<void(int)> onCommand;
    // Chosen items wait for an idle callback; the source is removed with the icon.
    std::deque<int> chosen;
    guint chosenSource = 0;
    bool notifyReady = false;

    static void OnItemActivated(GtkMenuItem* item, gpointer data);
    static gboolean OnChosen(gpointer data);
};

void GtkTray::Impl::OnItemActivated(GtkMenuItem* item, gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    impl.chosen.push_back(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "command")));
    if (impl.chosenSource == 0) impl.chosenSource = g_idle_add(OnChosen, &impl);
}

gboolean GtkTray::Impl::OnChosen(gpointer data) {
    Impl& impl = *static_cast<Impl*>(data);
    impl.chosenSource = 0;
    std::deque<int> commands;
    commands.swap(impl.chosen);
    for (int command : commands) {
        // A command may remove the icon (Exit): the rest are dropped with it.
        if (impl.indicator == nullptr) break;
        impl.onCommand(command);
    }
    return G_SOURCE_REMOVE;
}

GtkTray::GtkTray(std::filesystem::path iconFile)
    : impl_(std::make_unique<Impl>(std::move(iconFile))) {}

GtkTray::~GtkTray() {
    Remove();
    if (impl_->notifyReady) notify_uninit();
}

bool GtkTray::Add(const std::string& tip, std::function<void(int)> onCommand, int waitMs) {
    Impl& impl = *impl_;
    if (impl.indicator != nullptr) return true;
    if (!TrayHostPresent(waitMs)) return false;
    impl.onCommand = std::move(onCommand);
    // The icon is found by its name in its own folder, as the panel's icon theme would.
    const std::string folder = impl.iconFile.parent_path().string();
    const std::string name = impl.iconFile.stem().string();
    impl.indicator = app_indicator_new_with_path(
        kIndicatorId, name.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS, folder.c_str());
    app_indicator_set_title(impl.indicator, tip.c_str());
    app_indicator_set_status(impl.indicator, APP_INDICATOR_STATUS_ACTIVE);
    // A panel shows no indicator without a menu: an empty one until SetMenu.
    GtkWidget* menu = gtk_menu_new();
    app_indicator_set_menu(impl.indicator, GTK_MENU(menu));
    return true;
}

void GtkTray::Remove() {
    Impl& impl = *impl_;
    if (impl.chosenSource != 0) g_source_remove(impl.chosenSource);
    impl.chosenSource = 0;
    impl.chosen.clear();
    if (impl.indicator == nullptr) return;
    app_indicator_set_status(impl.indicator, APP_INDICATOR_STATUS_PASSIVE);
    g_object_unref(impl.indicator);
    impl.indicator = nullptr;
}

bool GtkTray::Shown() const {
    return impl_->indicator != nullptr;
}

void GtkTray::SetMenu(const std::vector<TrayMenuItem>& items) {
    Impl& impl = *impl_;
    if (impl.indicator == nullptr) return;
    GtkWidget* menu = gtk_menu_new();
    GtkWidget* first = nullptr;
    for (const TrayMenuItem& item : items) {
        GtkWidget* widget = nullptr;
        if (item.command == 0) {
            widget = gtk_separator_menu_item_new();
        } else if (item.checkable) {
            widget = gtk_check_menu_item_new_with_label(item.label.c_str());
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item.checked);
        } else {
            widget = gtk_menu_item_new_with_label(item.label.c_str());
        }
        if (item.command != 0) {
            g_object_set_data(G_OBJECT(widget), "command", GINT_TO_POINTER(item.command));
            g_signal_connect(widget, "activate", G_CALLBACK(Impl::OnItemActivated), &impl);
            if (first == nullptr) first = widget;
        }
        gtk_widget_show(widget);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
    }
    // The indicator keeps its own reference to the menu; the old one goes with it.
    app_indicator_set_menu(impl.indicator, GTK_MENU(menu));
    if (first != nullptr) app_indicator_set_secondary_activate_target(impl.indicator, first);
}

bool GtkTray::Notify(const std::string& title, const std::string& text) {
    Impl& impl = *impl_;
    if (!impl.notifyReady) impl.notifyReady = notify_init(kApplicationName) != FALSE;
    if (!impl.notifyReady) return false;
    const std::string icon = impl.iconFile.string();
    NotifyNotification* notification =
        notify_notification_new(title.c_str(), text.c_str(), icon.c_str());
    GError* error = nullptr;
    const bool shown = notify_notification_show(notification, &error) != FALSE;
    g_clear_error(&error);
    g_object_unref(notification);
    return shown;
}

}  // namespace quillon::lnx
