// LinuxAutostart: the Autostart port as an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/quillon.desktop (~/.config/autostart without the variable).
// The core hands over a command line in the form "quoted executable" followed by options; the
// entry's Exec key holds the same arguments quoted and escaped the desktop-entry way, and Read
// turns Exec back into the core's form (first argument in double quotes, later ones quoted
// only when they hold blanks), so what was written reads back unchanged.
// Called on the UI thread; the command-line conversions are pure and any thread may call them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/autostart.h"

namespace quillon::lnx {

// The core's command line as arguments: a leading double-quoted part is one argument (quotes
// removed, no escapes inside), the rest splits at blanks.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
// Arguments back in the core's form.
std::string JoinCommandLine(const std::vector<std::string>& arguments);

// The Exec value for arguments: each quoted when it holds a reserved character, with ", `, $
// and \ escaped inside quotes, % doubled, then the value's own escaping of backslashes.
std::string DesktopExec(const std::vector<std::string>& arguments);
// The arguments of an Exec value; nullopt when its quoting is broken.
std::optional<std::vector<std::string>> ParseDesktopExec(std::string_view exec);
// The Exec value of the [Desktop Entry] group of a .desktop file text.
std::optional<std::string> DesktopEntryExec(std::string_view fileText);

class LinuxAutostart final : public Autostart {
public:
    // configHome: the XDG configuration home; empty means no entry can be kept.
    explicit LinuxAutostart(std::string configHome);

    std::optional<std::string> Read() override;
    bool Write(const std::string& commandLine) override;
    bool Remove() override;

    const std::string& EntryPath() const { return path_; }

private:
    std::string path_;
};

}  // namespace quillon::lnx
