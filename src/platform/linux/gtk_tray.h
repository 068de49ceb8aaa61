// GtkTray: the desktop front end's tray icon and notifications on Linux. The icon is an Ayatana
// AppIndicator — a StatusNotifierItem on the session bus, which the desktop's panel shows, or an
// XEmbed tray icon where only such a tray runs — with the menu it opens when clicked; a middle
// click chooses the menu's first item. Notifications go to the desktop's notification service
// through libnotify. GtkShell owns one; everything runs on the UI thread.
//
// An indicator has no click events of its own to build a menu from: the menu is attached in
// advance and replaced whenever SetMenu is called. A chosen item is reported from an idle
// callback, never from inside the menu's own signal, so the listener may remove the icon.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/shell.h"

namespace quillon::lnx {

// True when something on this desktop shows tray icons: a StatusNotifierWatcher on the session
// bus, or an XEmbed system tray on the X display. GNOME without its extension has neither.
// Waits up to waitMs for one to appear (a panel still starting as the session begins).
bool TrayHostPresent(int waitMs = 0);

class GtkTray {
public:
    // iconFile: the application's icon (an SVG or PNG file named after the icon, "quillon.svg").
    explicit GtkTray(std::filesystem::path iconFile);
    ~GtkTray();
    GtkTray(const GtkTray&) = delete;
    GtkTray& operator=(const GtkTray&) = delete;

    // Shows the icon when a tray host is present, or appears within waitMs; chosen menu items
    // reach onCommand. False, and nothing shown, without a host.
    bool Add(const std::string& tip, std::function<void(int command)> onCommand, int waitMs = 0);
    void Remove();
    bool Shown() const;
    // The menu the icon opens from now on: items with a command, separators (command 0), and
    // check items showing their mark.
    void SetMenu(const std::vector<TrayMenuItem>& items);
    // A desktop notification; false when no notification service took it.
    bool Notify(const std::string& title, const std::string& text);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillon::lnx
