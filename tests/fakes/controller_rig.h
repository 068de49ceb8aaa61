// ControllerRig: the main window's logic on a simulated home network in virtual time, with a
// fake shell, notifier and startup entry. Discovery runs inline. The log goes to the simulated
// system's folder and can be read back (Debug lines are never written).
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "app/main_controller.h"
#include "base/log.h"
#include "fake_shell.h"
#include "path/path_monitor.h"
#include "platform/log_environment.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"
#include "ui/ui_dispatch.h"
#include "ui/webview_host.h"

namespace quillon::test {

inline sim::WorldConfig SmallHome() {
    sim::WorldBuilder b;
    b.Seed(3)
        .Home()
        .Path(Ipv4(1, 1, 1, 1))
        .Hop(sim::kHomeGateway, 2)
        .Hop(Ipv4(203, 0, 113, 1), 9)
        .As(64500, "EXAMPLE-NET, ZZ")
        .Hop(Ipv4(1, 1, 1, 1), 14)
        .Path(Ipv4(8, 8, 8, 8))
        .SameHopsAs(Ipv4(1, 1, 1, 1), 2)
        .Hop(Ipv4(8, 8, 8, 8), 16);
    return b.Build();
}

inline std::string ReadLog() {
    std::ifstream in(GetCurrentLogPath(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline int CountOf(const std::string& haystack, const std::string& needle) {
    int n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

struct ControllerRig {
    explicit ControllerRig(bool minimized = false, sim::WorldConfig world = SmallHome())
        : network(std::move(world), clock),
          monitor(
              PathPorts{clock, threads, network.icmp(), network.netInfo(), network.dns(), system}),
          host(shell, system),
          dispatcher(host, monitor),
          controller(
              MainControllerPorts{shell, clock, system, network.netInfo(), &netEvents, &autostart},
              monitor, host, dispatcher, MainControllerOptions{minimized, DefaultDestinations()}),
          startMinimized(minimized) {
        InitializeLogging(system, clock);
    }
    ~ControllerRig() { ShutdownLogging(); }

    void Create() { shell.Attach(controller, startMinimized); }
    int LogCount(const std::string& text) const { return CountOf(ReadLog(), text); }

    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads{sim::ThreadMode::Inline};
    sim::SimNetwork network;
    FakeShell shell{clock};
    FakeNetEvents netEvents;
    FakeAutostart autostart;
    PathMonitor monitor;
    WebViewHost host;
    UiDispatcher dispatcher;
    MainController controller;
    bool startMinimized;
};

}  // namespace quillon::test
