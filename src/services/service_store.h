// ServiceStore: the services.d folder, one small JSON file per monitored service. It owns the
// file format (seven members, compact, key order), the file names (unsafe characters replaced),
// the start-up load (a malformed file is logged, counted and skipped, never deleted), and saving
// and deleting one file. A save replaces the file durably through the Files port, so a crash
// leaves the old definition or the new one.
//
// Any thread; calls on the same id are not ordered with each other (the UI thread makes them).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/service_definition.h"

namespace quillon {

class Files;

// A definition from JSON text; nothing when the root is not an object or "id" or "target" is
// missing or not a string. Other members take their defaults when absent or of another kind.
std::optional<ServiceDefinition> ParseServiceDefinition(std::string_view text);
// The compact JSON text of the seven members, in key order.
std::string SerializeServiceDefinition(const ServiceDefinition& definition);
// The file name for an id: the characters " * / : < > ? \ | and control characters become _.
std::string ServiceFileName(std::string_view id);

struct LoadedServices {
    std::vector<ServiceDefinition> definitions;  // in file-name order
    int malformed = 0;
};

class ServiceStore {
public:
    // `folder` is the services.d folder; empty when the user's folder is unknown, and then every
    // operation fails.
    ServiceStore(std::string folder, Files& files) : folder_(std::move(folder)), files_(files) {}

    const std::string& ServicesDirectory() const { return folder_; }
    bool EnsureServicesDirectory();

    LoadedServices LoadServiceDefinitions();
    bool SaveServiceDefinition(const ServiceDefinition& definition);
    bool DeleteServiceDefinition(const std::string& id);

private:
    std::string PathOf(std::string_view id) const;

    std::string folder_;
    Files& files_;
};

}  // namespace quillon
