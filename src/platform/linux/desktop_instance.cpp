#include "platform/linux/desktop_instance.h"

#include <gio/gio.h>

#include <cstdint>
#include <cstdio>
#include <utility>

namespace quillon::lnx {

namespace {

// The session bus name of the runs on one folder: the path's FNV-1a hash in the name.
std::string InstanceId(const std::string& folder) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : folder) hash = (hash ^ c) * 1099511628211ull;
    char id[64];
    std::snprintf(id, sizeof(id), "net.quillon.Quillon.i%016llx",
                  static_cast<unsigned long long>(hash));
    return id;
}

}  // namespace

DesktopInstance::DesktopInstance(std::string folder) : folder_(std::move(folder)) {}

DesktopInstance::~DesktopInstance() {
    if (owned_ != nullptr) g_object_unref(owned_);
}

void DesktopInstance::OnActivated(GApplication*, void* data) {
    DesktopInstance& self = *static_cast<DesktopInstance*>(data);
    if (self.comeForward_) self.comeForward_();
}

bool DesktopInstance::HandOver(std::function<void()> comeForward) {
    if (folder_.empty() || owned_ != nullptr) return false;
    GApplication* app = g_application_new(InstanceId(folder_).c_str(), G_APPLICATION_DEFAULT_FLAGS);
    GError* error = nullptr;
    if (!g_application_register(app, nullptr, &error)) {
        g_clear_error(&error);
        g_object_unref(app);
        return false;
    }
    if (!g_application_get_is_remote(app)) {
        comeForward_ = std::move(comeForward);
        g_signal_connect(app, "activate", G_CALLBACK(OnActivated), this);
        owned_ = app;
        return false;
    }
    g_application_activate(app);
    // The request is sent before this run ends.
    if (GDBusConnection* bus = g_application_get_dbus_connection(app)) {
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    }
    g_object_unref(app);
    return true;
}

}  // namespace quillon::lnx
