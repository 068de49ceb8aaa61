#include "app/application.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/interface_choice.h"
#include "app/main_controller.h"
#include "backend/backend.h"
#include "base/fs_path.h"
#include "base/log.h"
#include "discovery/adapter_discovery.h"
#include "discovery/geoip_service.h"
#include "discovery/lldp_listener.h"
#include "discovery/oui_database.h"
#include "discovery/stun.h"
#include "discovery/wifi_query.h"
#include "gateway/gateway_recognizer.h"
#include "net/http_client.h"
#include "path/path_monitor.h"
#include "path/state_sources.h"
#include "platform/log_environment.h"
#include "platform/net_info.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "services/service_monitor.h"
#include "services/service_store.h"
#include "ui/gateway_bridge.h"
#include "ui/history_bridge.h"
#include "ui/service_bridge.h"
#include "ui/ui_dispatch.h"
#include "ui/update_bridge.h"
#include "ui/webview_host.h"

namespace quillon {

namespace {

// Where the page's browser engine is offered for download.
constexpr char kWebViewRuntimeDownloadPage[] =
    "https://developer.microsoft.com/microsoft-edge/webview2/#download";

// The vendor database as the network state builder asks it.
class OuiVendorSource final : public VendorSource {
public:
    explicit OuiVendorSource(OuiDatabase& database) : database_(database) {}
    std::string GetVendor(const std::string& mac) override { return database_.GetVendor(mac); }

private:
    OuiDatabase& database_;
};

// The wireless link as the network state builder asks it.
class WlanWifiSource final : public WifiSource {
public:
    explicit WlanWifiSource(Wlan& wlan) : link_(wlan) {}
    WifiDetails QueryWifiDetails() override { return link_.QueryWifiDetails(); }

private:
    WifiLink link_;
};

// The GeoIP service as the network state builder asks it.
class GeoIpSource final : public GeoSource {
public:
    explicit GeoIpSource(GeoIpService& service) : service_(service) {}
    GeoLocation Lookup(const std::string& ipText) override { return service_.Lookup(ipText); }
    uint64_t Changes() override { return service_.Changes(); }

private:
    GeoIpService& service_;
};

// The LLDP listener as the network state builder asks it.
class ListenerLldpSource final : public LldpSource {
public:
    explicit ListenerLldpSource(LldpListener& listener) : listener_(listener) {}
    std::optional<LldpNeighbor> CurrentNeighbor() override { return listener_.CurrentNeighbor(); }

private:
    LldpListener& listener_;
};

// What a worker still running at shutdown uses stays for the rest of the process, whose end
// takes the worker with it: destroying it would wait without bound, freeing it under the
// worker is worse. Kept reachable, so leak checkers agree.
void KeepUntilExit(std::shared_ptr<void> object) {
    static auto* kept = new std::vector<std::shared_ptr<void>>;
    if (object) kept->push_back(std::move(object));
}

// Tells the person the page's browser engine is missing and, when they agree, opens its
// download page. The program ends either way: the window would stay empty without it.
void OfferRuntimeDownload(System& system) {
    const MessageBoxResult answer = system.ShowMessageBox(
        "Quillon requires the Microsoft Edge WebView2 Runtime, which is not installed on this "
        "system.\n\nWebView2 is included with Windows 11 and most Windows 10 installations. "
        "Click OK to open the download page, or Cancel to exit.\n\nAfter installing WebView2, "
        "please restart Quillon.",
        "WebView2 Runtime Required", MessageBoxKind::Information, MessageBoxButtons::OkCancel);
    if (answer == MessageBoxResult::Ok) system.OpenUrl(kWebViewRuntimeDownloadPage);
}

}  // namespace

Application::Application(Platform& platform, ApplicationOptions options)
    : platform_(platform), options_(std::move(options)) {
    if (options_.destinations.empty()) options_.destinations = DefaultDestinations();
}

Application::~Application() = default;

bool Application::CheckUiAssets() {
    const std::string folder = UiFolder(*platform_.system);
    const std::string index =
        folder.empty() ? "ui/index.html" : folder + kPathSeparator + "index.html";
    std::error_code ec;
    if (!folder.empty() && std::filesystem::is_regular_file(FsPath(index), ec)) {
        LogWrite(Debug, "UI assets available: %s", index.c_str());
        return true;
    }
    LogWrite(Error, "UI assets not available: %s not found", index.c_str());
    fatalMessage_ = "Quillon cannot start: its user interface is missing (" + index +
                    " not found).\nBuild the web page (web/) into the ui folder beside the "
                    "executable; `make run` builds it together with the program.";
    return false;
}

int Application::Run() {
    Platform& p = platform_;
    if (p.clock == nullptr || p.threads == nullptr || p.system == nullptr || p.icmp == nullptr ||
        p.netInfo == nullptr || p.dns == nullptr || p.shell == nullptr) {
        fatalMessage_ = "Quillon cannot start: this front end lacks a required platform adapter.";
        return 1;
    }

    if (InitializeLogging(*p.system, *p.clock)) {
        LogWrite(Info, "Logging initialized - log directory: %s", GetLogDirectory().c_str());
    } else {
        std::fputs("Warning: Failed to initialize logging\n", stderr);
    }
    LogWrite(Info, "QlnWin starting%s", options_.startMinimized ? " (minimized)" : "");

    if (!p.shell->RuntimeAvailable()) {
        LogWrite(Error, "WebView2 runtime not available");
        OfferRuntimeDownload(*p.system);
        ShutdownLogging();
        fatalMessage_ = "Quillon cannot start: the WebView2 runtime is not installed.";
        return 1;
    }
    LogWrite(Debug, "WebView2 runtime available");

    // The page is what the window shows; without it there is no application to run.
    if (!CheckUiAssets()) {
        ShutdownLogging();
        return 1;
    }

    archive_ = std::make_unique<PingArchive>(*p.clock);
    archive_->Init(ArchiveFolderIn(p.system->AppFolderPath(AppFolder::State)),
                   options_.historyDays);

    StartServices();

    NetInfo* netInfo = p.netInfo;
    if (!options_.interfaceName.empty()) {
        interfaceChoice_ = std::make_unique<InterfaceChoice>(*p.netInfo, options_.interfaceName);
        netInfo = interfaceChoice_.get();
        std::vector<NetAdapter> adapters;
        if (netInfo->ListAdapters(adapters) && adapters.empty()) {
            LogWrite(Warn, "Interface %s not found", options_.interfaceName.c_str());
            // Not fatal (a USB adapter or a VPN may come later), but the person who named it
            // should not have to find out from the log.
            std::string present;
            if (p.netInfo->ListAdapters(adapters)) {
                for (const NetAdapter& adapter : adapters) {
                    present += (present.empty() ? "" : ", ") + adapter.friendlyName;
                }
            }
            std::fprintf(stderr,
                         "quillon: --interface %s: no such adapter (present: %s); running on, "
                         "it is used once it appears\n",
                         options_.interfaceName.c_str(),
                         present.empty() ? "none" : present.c_str());
        }
    }

    PathPorts pathPorts{*p.clock, *p.threads, *p.icmp, *netInfo, *p.dns, *p.system, p.sockets};
    if (!options_.stunServer.empty()) {
        // The command line checked it; a server that does not parse keeps the default.
        if (const auto server = ParseStunServer(options_.stunServer)) {
            pathPorts.stunServer = *server;
        }
    }
    monitor_ = std::make_unique<PathMonitor>(
        pathPorts, [backend = backend_.get()](const std::string& type, const std::string& data) {
            backend->TrackEvent(type, data);
        });
    monitor_->SetArchive(archive_.get());
    vendorSource_ = std::make_unique<OuiVendorSource>(*ouiDatabase_);
    monitor_->StateBuilder().SetVendorSource(vendorSource_.get());
    if (geoIp_) {
        geoSource_ = std::make_unique<GeoIpSource>(*geoIp_);
        monitor_->StateBuilder().SetGeoSource(geoSource_.get());
    }
    StartLldp(*netInfo);
    if (p.wlan != nullptr) {
        wifiSource_ = std::make_unique<WlanWifiSource>(*p.wlan);
        monitor_->StateBuilder().SetWifiSource(wifiSource_.get());
    }
    host_ = std::make_unique<WebViewHost>(*p.shell, *p.system);
    if (serviceMonitor_) {
        serviceBridge_ = std::make_unique<ServiceBridge>(*host_, *serviceStore_, *serviceMonitor_);
        serviceBridge_->InstallMetricsPush();
    }
    if (backend_->Updates() != nullptr) {
        updateBridge_ = std::make_unique<UpdateBridge>(*host_, *p.shell, *backend_->Updates());
    }
    historyBridge_ = std::make_unique<HistoryBridge>(*host_, *archive_,
                                                     HistoryPorts{*p.clock, *p.threads, *p.system});
    if (p.http != nullptr) {
        gatewayRecognizer_ = std::make_unique<GatewayRecognizer>(*p.http, *p.threads);
        monitor_->StateBuilder().SetUnifiSource(gatewayRecognizer_.get());
        if (p.files != nullptr) {
            const std::string data = p.system->AppFolderPath(AppFolder::Data);
            gatewayBridge_ = std::make_unique<GatewayBridge>(
                *host_, GatewayPorts{*p.http, *netInfo, *p.files, p.secrets, *p.threads},
                data.empty() ? std::string() : data + kPathSeparator + kGatewayCredentialsFile);
        }
    }
    dispatcher_ =
        std::make_unique<UiDispatcher>(*host_, *monitor_, serviceBridge_.get(), updateBridge_.get(),
                                       historyBridge_.get(), gatewayBridge_.get());
    controller_ = std::make_unique<MainController>(
        MainControllerPorts{*p.shell, *p.clock, *p.system, *netInfo, p.netEvents, p.autostart},
        *monitor_, *host_, *dispatcher_,
        MainControllerOptions{options_.startMinimized, options_.destinations});

    const int exitCode = p.shell->Run(*controller_, options_.startMinimized);
    if (exitCode == -1) {
        const std::string reason = p.shell->StartFailure();
        if (reason.empty()) {
            LogWrite(Error, "Failed to create main window");
            fatalMessage_ = "Quillon cannot start: the main window could not be created.";
        } else {
            LogWrite(Error, "Failed to start: %s", reason.c_str());
            fatalMessage_ = "Quillon cannot start: " + reason;
        }
        StopServices();
        StopDiscoveryWorkers();
        StopBackend();
        ShutdownLogging();
        return 1;
    }

    LogWrite(Info, "QlnWin shutting down");
    StopServices();
    StopDiscoveryWorkers();
    StopBackend();
    ShutdownLogging();
    return exitCode;
}

// The HTTP client, the backend (check-in on a worker), the vendor database and the GeoIP
// service (whose downloads use the client), then the service definitions and their probe
// workers. A platform without the adapters they need
// runs without downloads or service monitoring.
void Application::StartServices() {
    Platform& p = platform_;
    if (p.http != nullptr) {
        httpClient_ = std::make_unique<HttpClient>(*p.http);
        httpClient_->Init();
    }
    backend_ = std::make_unique<Backend>(
        BackendPorts{*p.system, *p.clock, *p.threads, p.settings, p.secrets, httpClient_.get()});
    backend_->Start();
    backend_->TrackEvent("app.startup", R"({"reason":"launch"})");
    ouiDatabase_ = std::make_unique<OuiDatabase>(
        OuiDatabasePorts{*p.system, *p.clock, *p.threads, p.files, httpClient_.get()},
        options_.vendorLists);
    ouiDatabase_->Load();
    geoIp_ = std::make_unique<GeoIpService>(
        GeoIpPorts{*p.system, *p.clock, *p.threads, p.files, httpClient_.get()},
        options_.geoIpServer.empty() ? kDefaultGeoIpServer : options_.geoIpServer);
    geoIp_->Initialize();

    if (p.http == nullptr || p.sockets == nullptr || p.files == nullptr) return;
    const std::string config = p.system->AppFolderPath(AppFolder::Config);
    serviceStore_ = std::make_unique<ServiceStore>(
        config.empty() ? "" : config + kPathSeparator + "services.d", *p.files);
    serviceProber_ =
        std::make_unique<ServiceProber>(*p.clock, *p.icmp, *p.dns, *p.sockets, *httpClient_);
    serviceMonitor_ = std::make_unique<ServiceMonitor>(*serviceProber_, *p.clock, *p.threads);
    serviceMonitor_->InitializeServiceProbing();
    LoadedServices loaded = serviceStore_->LoadServiceDefinitions();
    if (!loaded.definitions.empty()) {
        const auto count = static_cast<int>(loaded.definitions.size());
        serviceMonitor_->StartServiceProbing(std::move(loaded.definitions));
        LogWrite(Info, "Loaded %d monitored services from disk", count);
    }
}

// A wired primary adapter gets the LLDP listener: a capture worker of its own on that adapter's
// device, through the Capture port (libpcap), feeding the state builder's wired link details.
// A network change later does not move it to another adapter.
void Application::StartLldp(NetInfo& netInfo) {
    lldp_ = std::make_unique<LldpListener>(
        LldpPorts{*platform_.clock, *platform_.threads, platform_.capture});
    lldpSource_ = std::make_unique<ListenerLldpSource>(*lldp_);
    monitor_->StateBuilder().SetLldpSource(lldpSource_.get());
    const AdapterInfo adapter = DiscoverPrimaryAdapter(netInfo);
    if (!adapter.name.empty() && adapter.ifType == kIfTypeEthernet) {
        lldp_->Start(adapter.name, adapter.ipv4);
    }
}

// First at shutdown: the builder stops asking, then the capture worker ends within its read
// time-out (a second).
void Application::StopLldp() {
    if (monitor_) monitor_->StateBuilder().SetLldpSource(nullptr);
    lldpSource_.reset();
    if (lldp_ && !lldp_->Stop(workerStopBound_)) LeaveRunning("LLDP capture", std::move(lldp_));
    lldp_.reset();
}

void Application::LeaveRunning(const char* what, std::shared_ptr<void> object) {
    LogWrite(Warn, "%s still running at shutdown - left to process exit", what);
    workersLeftRunning_ = true;
    KeepUntilExit(std::move(object));
}

void Application::StopServices() {
    StopLldp();
    if (serviceMonitor_) {
        // No result reaches the page bridge once it is gone, even from a worker left running.
        serviceMonitor_->SetServiceProbeCallback({});
        serviceBridge_.reset();
        if (serviceMonitor_->ShutdownServiceProbing(workerStopBound_)) {
            serviceMonitor_.reset();
            serviceProber_.reset();
        } else {
            KeepUntilExit(std::move(serviceProber_));
            LeaveRunning("Service probe worker", std::move(serviceMonitor_));
        }
    }

    // The builder stops asking before the sources go.
    if (monitor_) {
        monitor_->StateBuilder().SetVendorSource(nullptr);
        monitor_->StateBuilder().SetGeoSource(nullptr);
        monitor_->StateBuilder().SetWifiSource(nullptr);
    }
    wifiSource_.reset();  // closes the WLAN client
    vendorSource_.reset();
    geoSource_.reset();
    if (ouiDatabase_ && !ouiDatabase_->StopDownload(workerStopBound_)) {
        LeaveRunning("OUI database download", std::move(ouiDatabase_));
    }
    ouiDatabase_.reset();
    if (geoIp_) {
        const bool stopped = geoIp_->Stop(workerStopBound_);
        geoIp_->SaveIfDirty();
        if (!stopped) LeaveRunning("GeoIP lookup", std::move(geoIp_));
        geoIp_.reset();
    }
}

// Last, because the discovery workers record measurements through it: the final telemetry
// (with "app.shutdown"), then the HTTP client, unless a worker left running may still use them.
void Application::StopBackend() {
    if (backend_) {
        backend_->TrackEvent("app.shutdown", R"({"reason":"exit"})");
        if (!backend_->Stop(workerStopBound_)) {
            LeaveRunning("Backend worker", std::move(backend_));
        } else if (workersLeftRunning_) {
            KeepUntilExit(std::move(backend_));
        }
        backend_.reset();
    }
    if (!httpClient_) return;
    if (workersLeftRunning_) {
        KeepUntilExit(std::move(httpClient_));
        return;
    }
    httpClient_->Shutdown();
    httpClient_.reset();
}

void Application::StopDiscoveryWorkers() {
    controller_.reset();
    dispatcher_.reset();
    updateBridge_.reset();
    if (historyBridge_ && !historyBridge_->Stop(workerStopBound_)) {
        // Reading a file the system is slow to give: the worker posts through the host.
        LeaveRunning("History worker", std::move(historyBridge_));
        KeepUntilExit(std::move(host_));
    }
    historyBridge_.reset();
    if (gatewayBridge_ && !gatewayBridge_->Stop(workerStopBound_)) {
        // Waiting for a gateway that does not answer: the worker posts through the host.
        LeaveRunning("Gateway sign-in", std::move(gatewayBridge_));
        KeepUntilExit(std::move(host_));
    }
    gatewayBridge_.reset();
    host_.reset();
    monitor_->StateBuilder().SetUnifiSource(nullptr);
    if (gatewayRecognizer_ && !gatewayRecognizer_->Stop(workerStopBound_)) {
        LeaveRunning("Gateway recognition", std::move(gatewayRecognizer_));
    }
    gatewayRecognizer_.reset();
    // The monitor writes no more records once the loop has ended. An archive it no longer has
    // was closed when the desktop session ended.
    if (monitor_->Archive() != nullptr) {
        monitor_->SetArchive(nullptr);
        archive_->Shutdown();
    }
    if (monitor_->Stop(workerStopBound_)) {
        monitor_.reset();
        return;
    }
    // A worker is inside a probe or a name look-up.
    LogWrite(Warn, "Path discovery worker still running at shutdown - left to process exit");
    workersLeftRunning_ = true;
    KeepUntilExit(std::move(interfaceChoice_));  // the monitor reads through it
    KeepUntilExit(std::move(monitor_));
}

}  // namespace quillon
