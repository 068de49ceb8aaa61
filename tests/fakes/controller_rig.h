// ControllerRig: the main window's logic on a simulated home network in virtual time, with a
// fake shell, notifier and startup entry. Discovery runs inline. The log goes to the simulated
// system's folder and is captured in `log`.
#pragma once

#include <string>

#include "app/main_controller.h"
#include "base/log.h"
#include "fake_shell.h"
#include "log_capture.h"
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
        .Path(Ipv4Address(1, 1, 1, 1))
        .Hop(sim::kHomeGateway, 2)
        .Hop(Ipv4Address(203, 0, 113, 1), 9)
        .As(64500, "EXAMPLE-NET, ZZ")
        .Hop(Ipv4Address(1, 1, 1, 1), 14)
        .Path(Ipv4Address(8, 8, 8, 8))
        .SameHopsAs(Ipv4Address(1, 1, 1, 1), 2)
        .Hop(Ipv4Address(8, 8, 8, 8), 16);
    return b.Build();
}

struct ControllerRig {
    explicit ControllerRig(bool minimized = false, sim::WorldConfig world = SmallHome())
        : network(std::move(world), clock),
          monitor(PathPorts{clock, threads, network.icmp(), network.netInfo(), network.dns(),
                            system, &network.sockets()}),
          host(shell, system),
          dispatcher(host, monitor),
          controller(
              MainControllerPorts{shell, clock, system, network.netInfo(), &netEvents, &autostart},
              monitor, host, dispatcher, MainControllerOptions{minimized, DefaultDestinations()}),
          startMinimized(minimized) {}

    void Create() { shell.Attach(controller, startMinimized); }

    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads{sim::ThreadMode::Inline};
    sim::SimNetwork network;
    FakeShell shell{clock};
    FakeNetEvents netEvents;
    sim::SimAutostart autostart;
    PathMonitor monitor;
    WebViewHost host;
    UiDispatcher dispatcher;
    MainController controller;
    bool startMinimized;
    TestLog log{system, clock};  // last: opened after the rest is built, closed before it goes
};

}  // namespace quillon::test
