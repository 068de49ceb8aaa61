// Settings kept in memory, and Secrets that seal bytes reversibly with a marker (so a test can
// tell sealed from clear text) and can be made to fail. Thread-safe.
#pragma once

#include <map>
#include <mutex>

#include "platform/secrets.h"
#include "platform/settings.h"

namespace quillon::test {

class MemorySettings final : public Settings {
public:
    std::optional<SettingValue> Read(const std::string& name) override {
        std::lock_guard lock(mutex_);
        const auto it = values.find(name);
        return it == values.end() ? std::nullopt : std::optional<SettingValue>(it->second);
    }
    bool Write(const std::string& name, const SettingValue& value) override {
        std::lock_guard lock(mutex_);
        values[name] = value;
        return true;
    }
    bool Remove(const std::string& name) override {
        std::lock_guard lock(mutex_);
        values.erase(name);
        return true;
    }
    std::map<std::string, SettingValue> values;

private:
    std::mutex mutex_;
};

class FakeSecrets final : public Secrets {
public:
    std::optional<std::vector<uint8_t>> Protect(const std::vector<uint8_t>& plain,
                                                const std::string&) override {
        if (fail) return std::nullopt;
        std::vector<uint8_t> sealed = {'S', 'E', 'A', 'L'};
        for (const uint8_t b : plain) sealed.push_back(b ^ 0x5A);
        return sealed;
    }
    std::optional<std::vector<uint8_t>> Unprotect(const std::vector<uint8_t>& data) override {
        if (fail || data.size() < 4 || data[0] != 'S') return std::nullopt;
        std::vector<uint8_t> plain;
        for (size_t i = 4; i < data.size(); ++i) plain.push_back(data[i] ^ 0x5A);
        return plain;
    }
    bool fail = false;
};

}  // namespace quillon::test
