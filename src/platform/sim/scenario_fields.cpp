#include "platform/sim/scenario_fields.h"

#include <cmath>
#include <cstdio>

#include "platform/sim/sim_address.h"

namespace quillon::sim {

namespace {

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

}  // namespace

std::string Join(const std::string& at, std::string_view key) {
    return at.empty() ? std::string(key) : at + "." + std::string(key);
}

std::string Index(const std::string& at, size_t i) {
    return at + "[" + std::to_string(i) + "]";
}

std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    quoted += text;
    quoted += '"';
    return quoted;
}

const char* KindName(JsonType type) {
    switch (type) {
        case JsonType::Null:
            return "null";
        case JsonType::Bool:
            return "true or false";
        case JsonType::Integer:
            return "a whole number";
        case JsonType::Number:
            return "a number";
        case JsonType::String:
            return "a string";
        case JsonType::Array:
            return "an array";
        case JsonType::Object:
            return "an object";
    }
    return "nothing";
}

bool FieldReader::Fail(const std::string& at, const std::string& what) {
    if (error_.empty()) error_ = at.empty() ? what : at + ": " + what;
    return false;
}

bool FieldReader::Kind(const JsonValue& value, JsonType type, const std::string& at) {
    if (value.type() == type) return true;
    return Fail(at,
                std::string("expected ") + KindName(type) + ", found " + KindName(value.type()));
}

bool FieldReader::Shape(const JsonValue& value, const std::string& at,
                        std::initializer_list<std::string_view> allowed,
                        std::initializer_list<std::string_view> required) {
    if (!Kind(value, JsonType::Object, at)) return false;
    for (const auto& [key, member] : value.asObject()) {
        bool known = false;
        for (std::string_view name : allowed) known = known || name == key;
        if (!known) return Fail(at, "unknown member " + Quoted(key));
    }
    for (std::string_view name : required) {
        if (!value.contains(name)) return Fail(at, "missing member " + Quoted(name));
    }
    return true;
}

bool FieldReader::String(const JsonValue& object, std::string_view key, const std::string& at,
                         std::string& out) {
    if (!object.contains(key)) return true;
    const JsonValue& value = object.member(key);
    if (!Kind(value, JsonType::String, Join(at, key))) return false;
    out = value.asString();
    return true;
}

bool FieldReader::Bool(const JsonValue& object, std::string_view key, const std::string& at,
                       bool& out) {
    if (!object.contains(key)) return true;
    const JsonValue& value = object.member(key);
    if (!Kind(value, JsonType::Bool, Join(at, key))) return false;
    out = value.asBool();
    return true;
}

bool FieldReader::Number(const JsonValue& object, std::string_view key, const std::string& at,
                         double& out, double min, double max) {
    if (!object.contains(key)) return true;
    const JsonValue& value = object.member(key);
    const std::string where = Join(at, key);
    double number;
    if (value.type() == JsonType::Integer) {
        number = double(value.asInteger());
    } else if (value.type() == JsonType::Number) {
        number = value.asDouble();
    } else {
        return Fail(where, std::string("expected a number, found ") + KindName(value.type()));
    }
    if (!std::isfinite(number) || number < min || number > max) {
        return Fail(where, NumberText(number) + " is out of range (" + NumberText(min) + " to " +
                               NumberText(max) + ")");
    }
    out = number;
    return true;
}

bool FieldReader::Address(const JsonValue& object, std::string_view key, const std::string& at,
                          Ipv4Address& out) {
    std::string text;
    if (!object.contains(key)) return true;
    if (!String(object, key, at, text)) return false;
    const auto address = Ipv4Address::Parse(text);
    if (!address) return Fail(Join(at, key), Quoted(text) + " is not an IPv4 address");
    out = *address;
    return true;
}

bool FieldReader::Mac(const JsonValue& object, std::string_view key, const std::string& at,
                      MacAddress& out) {
    std::string text;
    if (!object.contains(key)) return true;
    if (!String(object, key, at, text)) return false;
    const auto mac = ParseMac(text);
    if (!mac) {
        return Fail(Join(at, key),
                    Quoted(text) + " is not a hardware address like 00:11:22:33:44:55");
    }
    out = *mac;
    return true;
}

}  // namespace quillon::sim
