// Application: the composition root. Given one adapter per port it brings the services up in
// their fixed order, runs the shell's loop with the main controller as its listener, and takes
// everything down again in the fixed order, returning the process exit code.
//
// The entry point builds it on the main thread, which becomes the UI thread; Run returns when
// the window is gone. Everything here runs on that thread.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "path/node_registry.h"
#include "path/ping_archive.h"

namespace quillon {

class Backend;
class GeoIpService;
class GeoSource;
class GatewayBridge;
class GatewayRecognizer;
class HistoryBridge;
class HttpClient;
class InterfaceChoice;
class LldpListener;
class LldpSource;
class MainController;
class NetInfo;
class OuiDatabase;
class PathMonitor;
class ServiceBridge;
class ServiceMonitor;
class ServiceProber;
class ServiceStore;
class UiDispatcher;
class UpdateBridge;
class VendorSource;
class WifiSource;
class WebViewHost;
struct Platform;

struct ApplicationOptions {
    bool startMinimized = false;
    std::vector<Destination> destinations;  // empty: the default two
    std::string interfaceName;              // empty: adapter discovery chooses
    // The vendor lists the system ships (IEEE registry text), used until the downloaded list
    // is there; none: vendors are unknown until then.
    std::vector<std::string> vendorLists = {};
    std::string stunServer = {};            // HOST[:PORT]; empty: the default server
    std::string geoIpServer = {};           // HOST[:PORT]; empty: the default service
    int historyDays = kDefaultArchiveDays;  // days of measurements kept; 0: all
};

// How long shutdown waits for discovery workers to notice the stop request.
constexpr std::chrono::milliseconds kWorkerStopBound{2000};

class Application {
public:
    Application(Platform& platform, ApplicationOptions options);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Start-up, the loop, shutdown. 1 when start-up failed (FatalMessage says why), otherwise
    // the exit code the loop ended with.
    int Run();

    // For the person starting the program, when Run returned 1.
    const std::string& FatalMessage() const { return fatalMessage_; }
    // A discovery worker outlived the bounded wait: it still uses the platform's adapters, so
    // the caller must end the process without destroying them (std::_Exit with the code).
    bool WorkersLeftRunning() const { return workersLeftRunning_; }

    // Tests shorten the wait.
    void SetWorkerStopBound(std::chrono::milliseconds bound) { workerStopBound_ = bound; }
    // The running parts, for tests and the front end; null outside Run.
    MainController* Controller() { return controller_.get(); }
    PathMonitor* Monitor() { return monitor_.get(); }
    ServiceMonitor* Services() { return serviceMonitor_.get(); }

private:
    bool CheckUiAssets();
    void StartServices();
    void StopServices();
    void StopDiscoveryWorkers();
    void StopBackend();
    void StartLldp(NetInfo& netInfo);
    void StopLldp();
    // Logs that a worker outlived its bounded wait and keeps what it uses until the process ends.
    void LeaveRunning(const char* what, std::shared_ptr<void> object);

    Platform& platform_;
    ApplicationOptions options_;
    std::string fatalMessage_;
    bool workersLeftRunning_ = false;
    std::chrono::milliseconds workerStopBound_ = kWorkerStopBound;

    std::unique_ptr<HttpClient> httpClient_;
    std::unique_ptr<Backend> backend_;
    std::unique_ptr<OuiDatabase> ouiDatabase_;
    std::unique_ptr<VendorSource> vendorSource_;  // the database, as the state builder sees it
    std::unique_ptr<GeoIpService> geoIp_;
    std::unique_ptr<GeoSource> geoSource_;    // the service, as the state builder sees it
    std::unique_ptr<WifiSource> wifiSource_;  // owns the WLAN client while the app runs
    std::unique_ptr<ServiceStore> serviceStore_;
    std::unique_ptr<ServiceProber> serviceProber_;
    std::unique_ptr<ServiceMonitor> serviceMonitor_;
    std::unique_ptr<ServiceBridge> serviceBridge_;
    std::unique_ptr<UpdateBridge> updateBridge_;
    std::unique_ptr<PingArchive> archive_;
    std::unique_ptr<HistoryBridge> historyBridge_;
    std::unique_ptr<GatewayRecognizer> gatewayRecognizer_;
    std::unique_ptr<GatewayBridge> gatewayBridge_;
    std::unique_ptr<InterfaceChoice> interfaceChoice_;
    std::unique_ptr<LldpListener> lldp_;
    std::unique_ptr<LldpSource> lldpSource_;  // the listener, as the state builder sees it
    std::unique_ptr<PathMonitor> monitor_;
    std::unique_ptr<WebViewHost> host_;
    std::unique_ptr<UiDispatcher> dispatcher_;
    std::unique_ptr<MainController> controller_;
};

}  // namespace quillon
