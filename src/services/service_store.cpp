#include "services/service_store.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/fs_path.h"
#include "base/json_value.h"
#include "base/log.h"
#include "base/small_file.h"
#include "platform/files.h"

namespace quillon {

namespace {

namespace fs = std::filesystem;

// A definition is a few hundred bytes; anything far larger is not one of ours, and reading it
// whole would only cost memory.
constexpr std::uintmax_t kMaxFileBytes = 1 << 20;

}  // namespace

std::optional<ServiceDefinition> ParseServiceDefinition(std::string_view text) {
    JsonValue root;
    try {
        root = JsonValue::parse(text);
    } catch (const std::exception&) {
        return std::nullopt;  // a malformed number or \u escape
    }
    if (root.type() != JsonType::Object) return std::nullopt;
    const JsonValue& id = root.member("id");
    const JsonValue& target = root.member("target");
    if (id.type() != JsonType::String || target.type() != JsonType::String) return std::nullopt;

    ServiceDefinition definition;
    definition.id = id.asString();
    definition.target = target.asString();
    const JsonValue& name = root.member("name");
    definition.name = name.type() == JsonType::String ? name.asString() : definition.target;
    const JsonValue& type = root.member("probeType");
    if (type.type() == JsonType::String) {
        if (const auto known = ProbeTypeFromName(type.asString())) {
            definition.probeType = *known;
        } else {
            LogWrite(Warn, "Unknown probeType in service %s, defaulting to ICMP",
                     definition.id.c_str());
        }
    }
    const JsonValue& port = root.member("port");
    definition.port =
        port.type() == JsonType::Integer ? static_cast<uint32_t>(port.asInteger()) : 0;
    const JsonValue& interval = root.member("intervalMs");
    definition.intervalMs =
        interval.type() == JsonType::Integer ? static_cast<uint32_t>(interval.asInteger()) : 5000;
    const JsonValue& enabled = root.member("enabled");
    definition.enabled = enabled.type() == JsonType::Bool ? enabled.asBool() : true;
    return definition;
}

std::string SerializeServiceDefinition(const ServiceDefinition& definition) {
    JsonValue root;
    root["enabled"] = definition.enabled;
    root["id"] = definition.id;
    root["intervalMs"] = static_cast<int32_t>(definition.intervalMs);
    root["name"] = definition.name;
    root["port"] = static_cast<int32_t>(definition.port);
    root["probeType"] = ProbeTypeName(definition.probeType);
    root["target"] = definition.target;
    return root.dump();
}

std::string ServiceFileName(std::string_view id) {
    std::string name(id);
    for (char& c : name) {
        if (std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos ||
            static_cast<unsigned char>(c) < 0x20) {
            c = '_';
        }
    }
    return name + ".json";
}

std::string ServiceStore::PathOf(std::string_view id) const {
    return folder_ + kPathSeparator + ServiceFileName(id);
}

bool ServiceStore::EnsureServicesDirectory() {
    if (folder_.empty()) return false;
    std::error_code ec;
    fs::create_directories(FsPath(folder_), ec);
    if (fs::is_directory(FsPath(folder_))) return true;
    LogWrite(Error, "Failed to create services directory: %s (error %d)", folder_.c_str(),
             ec.value());
    return false;
}

LoadedServices ServiceStore::LoadServiceDefinitions() {
    LoadedServices loaded;
    if (folder_.empty()) {
        LogWrite(Warn, "Could not determine services directory");
        return loaded;
    }
    std::error_code ec;
    fs::directory_iterator it(FsPath(folder_), ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory) {
            LogWrite(Debug, "No services found in %s", folder_.c_str());
        } else {
            LogWrite(Error, "Failed to enumerate services directory: %d", ec.value());
        }
        return loaded;
    }
    std::vector<fs::path> files;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::error_code typeError;
        if (it->path().extension() == ".json" && !it->is_directory(typeError)) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const std::string path = Utf8Path(file);
        const SmallFile read = ReadSmallFile(path, kMaxFileBytes);
        if (read.error != SmallFileError::None && read.error != SmallFileError::TooLarge) {
            LogWrite(Warn, "Failed to open service file: %s", path.c_str());
            ++loaded.malformed;
            continue;
        }
        std::optional<ServiceDefinition> definition;
        if (read.text) definition = ParseServiceDefinition(*read.text);
        if (!definition) {
            LogWrite(Warn, "Failed to parse service file: %s", path.c_str());
            ++loaded.malformed;
            continue;
        }
        LogWrite(Debug, "Loaded service: %s (%s)", definition->name.c_str(),
                 definition->target.c_str());
        loaded.definitions.push_back(std::move(*definition));
    }
    if (loaded.malformed > 0) {
        LogWrite(Warn, "Skipped %d malformed service files", loaded.malformed);
    }
    return loaded;
}

bool ServiceStore::SaveServiceDefinition(const ServiceDefinition& definition) {
    if (!EnsureServicesDirectory()) return false;
    const std::string path = PathOf(definition.id);
    const FileWriteResult written =
        files_.ReplaceFile(path, SerializeServiceDefinition(definition), false);
    if (!written.ok) {
        LogWrite(Error, "Failed to open service file for writing: %s", path.c_str());
        return false;
    }
    LogWrite(Info, "Saved service to %s", path.c_str());
    return true;
}

bool ServiceStore::DeleteServiceDefinition(const std::string& id) {
    const std::string path = PathOf(id);
    if (folder_.empty()) {
        LogWrite(Error, "Failed to delete service file: %s (error %d)", path.c_str(), 0);
        return false;
    }
    std::error_code ec;
    if (fs::remove(FsPath(path), ec)) {
        LogWrite(Info, "Deleted service file: %s", path.c_str());
        return true;
    }
    if (!ec) {
        LogWrite(Debug, "Service file not found (already deleted?): %s", path.c_str());
        return true;
    }
    LogWrite(Error, "Failed to delete service file: %s (error %d)", path.c_str(), ec.value());
    return false;
}

}  // namespace quillon
