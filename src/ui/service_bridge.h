// ServiceBridge: the page's side of service monitoring. It turns each probe result into a
// "serviceMetrics" message, tells the page which services exist ("serviceList") whenever a page
// arrives and after every change, and carries out the page's save and delete commands on the
// definitions store and the monitor, answering each with a "serviceChangeResult".
//
// Results arrive on probe worker threads and are handed to the UI thread through the host;
// everything else runs on the UI thread.
#pragma once

#include <string>
#include <vector>

#include "services/service_definition.h"

namespace quillon {

class ServiceMonitor;
class ServiceStore;
class WebViewHost;
struct ServiceProbeResult;

// {"type":"serviceMetrics","payload":{...}}: members in their fixed order, figures with one
// decimal, httpTiming for web probes, tlsInfo for https with a certificate, error when set.
std::string ServiceMetricsMessage(const ServiceProbeResult& result);

class ServiceBridge {
public:
    ServiceBridge(WebViewHost& host, ServiceStore& store, ServiceMonitor& monitor)
        : host_(host), store_(store), monitor_(monitor) {}

    // Installs the result callback that posts "serviceMetrics" while a page is there.
    void InstallMetricsPush();
    void PushServiceList();

    // The "saveEndpoint" and "deleteEndpoint" commands, whole message texts.
    void SaveEndpoint(const std::string& message);
    void DeleteEndpoint(const std::string& id);

private:
    void PushChangeResult(const char* action, const std::string& id, bool ok,
                          const std::string& error);

    WebViewHost& host_;
    ServiceStore& store_;
    ServiceMonitor& monitor_;
};

}  // namespace quillon
