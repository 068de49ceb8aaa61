// Fuzzes the JSON parser and serialiser, the UTF-8/UTF-16 conversions and the decimal reader.
// Any input may be rejected only with the documented conversion exceptions; everything parsed
// must serialise to text that reads back to the same text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/json_value.h"

namespace {

using quillon::JsonType;
using quillon::JsonValue;

// A double printed with 15 digits can land just past the limits (1.79769313486232e+308,
// 2.2250738585072e-308) and no longer convert when read back.
bool HasDoubleAtTheLimits(const JsonValue& value) {
    switch (value.type()) {
        case JsonType::Number:
            try {
                quillon::ParseDecimal(value.dump());
                return false;
            } catch (const std::out_of_range&) {
                return true;
            }
        case JsonType::Array:
            for (const JsonValue& element : value.asArray()) {
                if (HasDoubleAtTheLimits(element)) return true;
            }
            return false;
        case JsonType::Object:
            for (const auto& [key, member] : value.asObject()) {
                if (HasDoubleAtTheLimits(member)) return true;
            }
            return false;
        default:
            return false;
    }
}

// What reading a dump back gives: the text "-0" of a negative zero reads as the Integer 0.
JsonValue AsReadBack(const JsonValue& value) {
    switch (value.type()) {
        case JsonType::Number:
            return value.asDouble() == 0 ? JsonValue(0) : value;
        case JsonType::Array: {
            JsonValue::Array out;
            for (const JsonValue& element : value.asArray()) out.push_back(AsReadBack(element));
            return out;
        }
        case JsonType::Object: {
            JsonValue::Object out;
            for (const auto& [key, member] : value.asObject()) out.emplace(key, AsReadBack(member));
            return out;
        }
        default:
            return value;
    }
}

void CheckJson(std::string_view text) {
    JsonValue value;
    try {
        value = JsonValue::parse(text);
    } catch (const std::invalid_argument&) {
        return;
    } catch (const std::out_of_range&) {
        return;
    }
    const std::string first = value.dump();
    JsonValue again;
    try {
        again = JsonValue::parse(first);
    } catch (const std::out_of_range&) {
        if (!HasDoubleAtTheLimits(value)) std::abort();
        return;
    }
    const std::string second = again.dump();
    if (second != AsReadBack(value).dump()) std::abort();
    if (JsonValue::parse(second).dump() != second) std::abort();
}

void CheckUtf8(std::string_view bytes) {
    const std::u16string wide = quillon::fromUtf8(bytes);
    const std::string repaired = quillon::toUtf8(wide);
    if (quillon::fromUtf8(repaired) != wide) std::abort();
    if (wide.find(u'\uFFFD') == std::u16string::npos && repaired != bytes) std::abort();

    // The same bytes as UTF-16 code units: only unpaired surrogates change.
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    std::u16string expected;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            expected += c;
            expected += units[++i];
        } else {
            expected += (c >= 0xD800 && c <= 0xDFFF) ? u'\uFFFD' : c;
        }
    }
    if (quillon::fromUtf8(quillon::toUtf8(units)) != expected) std::abort();
}

// The fuzzer runs in the classic locale, where std::stod is the reference.
void CheckDecimal(std::string_view text) {
    double theirs = 0;
    int theirError = 0;
    try {
        theirs = std::stod(std::string(text));
    } catch (const std::invalid_argument&) {
        theirError = 1;
    } catch (const std::out_of_range&) {
        theirError = 2;
    }
    double ours = 0;
    int ourError = 0;
    try {
        ours = quillon::ParseDecimal(text);
    } catch (const std::invalid_argument& e) {
        ourError = std::strcmp(e.what(), "invalid stod argument") == 0 ? 1 : 3;
    } catch (const std::out_of_range& e) {
        ourError = std::strcmp(e.what(), "stod argument out of range") == 0 ? 2 : 3;
    }
    if (ourError != theirError) std::abort();
    if (ourError != 0) return;
    if (std::isnan(theirs) ? !std::isnan(ours) : std::memcmp(&ours, &theirs, sizeof ours) != 0) {
        std::abort();
    }
    if (std::signbit(ours) != std::signbit(theirs)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckJson(text);
    CheckUtf8(text);
    CheckDecimal(text);
    return 0;
}
