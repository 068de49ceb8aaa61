#include "ui/service_bridge.h"

#include "base/json_value.h"
#include "base/log.h"
#include "path/json_text.h"
#include "services/service_monitor.h"
#include "services/service_probes.h"
#include "services/service_store.h"
#include "ui/webview_host.h"

namespace quillon {

std::string ServiceMetricsMessage(const ServiceProbeResult& r) {
    JsonText json;
    json.BeginObject().Member("type", "serviceMetrics").Key("payload").BeginObject();
    json.Member("serviceId", r.serviceId)
        .MemberFixed("latencyMs", r.latencyMs, 1)
        .MemberFixed("lossPercent", r.lossPercent, 1)
        .MemberFixed("jitterMs", r.jitterMs, 1)
        .Member("success", r.success)
        .Member("timestamp", r.timestamp);
    const bool web = r.probeType == ProbeType::Http || r.probeType == ProbeType::Https;
    if (web) {
        json.Key("httpTiming").BeginObject();
        json.MemberFixed("dnsMs", r.dnsMs, 1)
            .MemberFixed("connectMs", r.connectMs, 1)
            .MemberFixed("ttfbMs", r.ttfbMs, 1)
            .MemberFixed("transferMs", r.transferMs, 1)
            .MemberFixed("totalMs", r.totalMs, 1)
            .Member("statusCode", r.statusCode);
        json.EndObject();
    }
    if (r.probeType == ProbeType::Https && r.tlsInfo.isValid) {
        json.Key("tlsInfo").BeginObject();
        json.Member("isValid", true)
            .Member("subject", r.tlsInfo.subject)
            .Member("issuer", r.tlsInfo.issuer)
            .Member("daysUntilExpiry", r.tlsInfo.daysUntilExpiry);
        json.EndObject();
    }
    if (!r.error.empty()) json.Member("error", r.error);
    json.EndObject().EndObject();
    return json.Take();
}

void ServiceBridge::InstallMetricsPush() {
    monitor_.SetServiceProbeCallback([this](const ServiceProbeResult& result) {
        // Nothing is built or handed over while no page can show it.
        if (host_.Ready()) host_.PostJsonFromAnyThread(ServiceMetricsMessage(result));
    });
}

void ServiceBridge::PushServiceList() {
    JsonText json;
    json.BeginObject().Member("type", "serviceList").Key("payload").BeginObject();
    json.Key("services").BeginArray();
    for (const auto& [d, probed] : monitor_.MonitoredServices()) {
        json.BeginObject()
            .Member("enabled", d.enabled)
            .Member("id", d.id)
            .Member("intervalMs", static_cast<int32_t>(d.intervalMs))
            .Member("name", d.name)
            .Member("port", static_cast<int32_t>(d.port))
            .Member("probeType", ProbeTypeName(d.probeType))
            .Member("target", d.target)
            .Member("probed", probed)
            .EndObject();
    }
    json.EndArray().Member("maxProbed", static_cast<int64_t>(kMaxProbedServices));
    json.EndObject().EndObject();
    host_.PostJson(json.Take());
}

void ServiceBridge::PushChangeResult(const char* action, const std::string& id, bool ok,
                                     const std::string& error) {
    JsonText json;
    json.BeginObject().Member("type", "serviceChangeResult").Key("payload").BeginObject();
    json.Member("action", action).Member("id", id).Member("ok", ok);
    if (!ok) json.Member("error", error);
    json.EndObject().EndObject();
    host_.PostJson(json.Take());
}

void ServiceBridge::SaveEndpoint(const std::string& message) {
    JsonValue root;
    try {
        root = JsonValue::parse(message);
    } catch (const std::exception&) {
        root = JsonValue();  // a malformed number or escape: no service object
    }
    const JsonValue& service = root.member("service");
    if (service.type() != JsonType::Object) {
        LogWrite(Warn, "saveEndpoint message missing service object");
        return;
    }
    const std::optional<ServiceDefinition> definition = ParseServiceDefinition(service.dump());
    if (!definition) {
        LogWrite(Warn, "Failed to parse service from saveEndpoint message");
        const JsonValue& id = service.member("id");
        PushChangeResult("save", id.type() == JsonType::String ? id.asString() : "", false,
                         "The service could not be saved: it needs an id and a target.");
        return;
    }
    if (!store_.SaveServiceDefinition(*definition)) {
        LogWrite(Error, "Failed to save service: %s", definition->name.c_str());
        PushChangeResult("save", definition->id, false,
                         "The service could not be saved: its file could not be written in " +
                             store_.ServicesDirectory() + " (see the log).");
        return;
    }
    monitor_.AddMonitoredService(*definition);
    LogWrite(Info, "Saved and started monitoring service: %s", definition->name.c_str());
    PushChangeResult("save", definition->id, true, "");
    PushServiceList();
}

void ServiceBridge::DeleteEndpoint(const std::string& id) {
    if (id.empty()) return;
    const bool deleted = store_.DeleteServiceDefinition(id);
    monitor_.RemoveMonitoredService(id);
    if (deleted) {
        LogWrite(Info, "Deleted and stopped monitoring service: %s", id.c_str());
    } else {
        // Stopped, but its file is still there and brings it back at the next start.
        LogWrite(Error, "Stopped monitoring service %s, but its file could not be deleted",
                 id.c_str());
    }
    PushChangeResult("delete", id, deleted,
                     "The service was stopped, but its file could not be deleted from " +
                         store_.ServicesDirectory() + "; it will return at the next start.");
    PushServiceList();
}

}  // namespace quillon
