// Entry point of quillon.exe, the Windows application. It builds the Platform from the Win32
// adapters and the Win32 shell and runs the application on this thread, which becomes the UI
// thread. The command line knows "--minimized" (anywhere in it, as the startup entry passes it)
// and "--data-dir DIR", which keeps every file of the run in DIR instead of
// %LOCALAPPDATA%\Quillon (portable use, tests).
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "app/application.h"
#include "base/fs_path.h"
#include "platform/platform.h"
#include "platform/portable/std_threads.h"
#include "platform/win32/win32_capture.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_command_line.h"
#include "platform/win32/win32_dns.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_http.h"
#include "platform/win32/win32_icmp.h"
#include "platform/win32/win32_net_events.h"
#include "platform/win32/win32_net_info.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_secrets.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_sockets.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_wlan.h"
#include "ui/webview_host.h"

// The GUI program's entry: MinGW's start-up code calls main in a windowed program too.
int main() {
    using namespace quillon;
    const win32::WindowsCommandLine options = win32::ReadWindowsCommandLine();

    win32::Win32Clock clock;
    StdThreads threads;
    win32::Win32System system(win32::Win32SystemOptions{options.dataDir});
    win32::Win32Icmp icmp;
    win32::Win32NetInfo netInfo;
    win32::Win32NetEvents netEvents;
    win32::Win32Dns dns;
    win32::Win32Sockets sockets;
    win32::Win32Files files;
    win32::Win32Http http;
    win32::Win32Settings settings;
    win32::Win32Secrets secrets;
    win32::Win32Autostart autostart;
    // The WLAN service when the computer has one: the WiFi link card.
    win32::Win32Wlan wlan;
    // Npcap when installed: the wired switch's name and port (LLDP).
    win32::Win32Capture capture;

    win32::Win32ShellOptions shellOptions;
    shellOptions.uiFolder = UiFolder(system);
    const std::string data = system.AppFolderPath(AppFolder::Data);
    if (!data.empty()) shellOptions.webViewDataFolder = data + kPathSeparator + "WebView2";
    shellOptions.darkTheme = system.PrefersDarkTheme();
    win32::Win32Shell shell(shellOptions);

    Platform platform;
    platform.clock = &clock;
    platform.threads = &threads;
    platform.system = &system;
    platform.icmp = &icmp;
    platform.netInfo = &netInfo;
    platform.netEvents = &netEvents;
    platform.wlan = &wlan;
    platform.capture = &capture;
    platform.dns = &dns;
    platform.sockets = &sockets;
    platform.files = &files;
    platform.http = &http;
    platform.settings = &settings;
    platform.secrets = &secrets;
    platform.autostart = &autostart;
    platform.shell = &shell;

    ApplicationOptions appOptions;
    appOptions.startMinimized = options.minimized;
    Application app(platform, std::move(appOptions));
    const int exitCode = app.Run();
    // A windowed program has nowhere to print: a missing page, the one start-up failure nothing
    // else has told the person about, gets a message box.
    const std::string page = shellOptions.uiFolder + kPathSeparator + "index.html";
    std::error_code ec;
    if (exitCode == 1 && !std::filesystem::is_regular_file(FsPath(page), ec)) {
        system.ShowMessageBox("Quillon cannot start: its user interface is missing (" + page +
                                  " not found).\n\nUnpack the whole Quillon folder again.",
                              "Quillon", MessageBoxKind::Error, MessageBoxButtons::Ok);
    }
    if (app.WorkersLeftRunning()) {
        // A worker still uses the adapters: end without destroying them.
        std::_Exit(exitCode);
    }
    return exitCode;
}
