// FieldReader: typed reading of the members of scenario JSON objects, keeping the first problem
// met together with where it is ("paths[0].hops[2].rttMs: ..."). Each read returns false once
// something is wrong, so readers chain them with &&. An absent optional member leaves the output
// untouched (its default). Used only by the scenario loader; one reader per load, one thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/json_value.h"
#include "platform/net_info.h"

namespace quillon::sim {

// Where texts: "a" + "b" gives "a.b"; Index("a", 2) gives "a[2]".
std::string Join(const std::string& at, std::string_view key);
std::string Index(const std::string& at, size_t i);
std::string Quoted(std::string_view text);
// "a string", "an array", ... for messages.
const char* KindName(JsonType type);

class FieldReader {
public:
    // The first problem, "where: what"; empty while all is well.
    const std::string& error() const { return error_; }

    // Records a problem (unless one is already recorded) and returns false.
    bool Fail(const std::string& at, const std::string& what);
    bool Kind(const JsonValue& value, JsonType type, const std::string& at);
    // An object with only the allowed members and every required one.
    bool Shape(const JsonValue& value, const std::string& at,
               std::initializer_list<std::string_view> allowed,
               std::initializer_list<std::string_view> required = {});

    bool String(const JsonValue& object, std::string_view key, const std::string& at,
                std::string& out);
    bool Bool(const JsonValue& object, std::string_view key, const std::string& at, bool& out);
    // Integer or fractional, finite and within [min, max].
    bool Number(const JsonValue& object, std::string_view key, const std::string& at, double& out,
                double min, double max);
    // A dotted quad.
    bool Address(const JsonValue& object, std::string_view key, const std::string& at,
                 Ipv4Address& out);
    // Six octets.
    bool Mac(const JsonValue& object, std::string_view key, const std::string& at, MacAddress& out);

    // A whole number within [min, max], stored as T.
    template <class T>
    bool Whole(const JsonValue& object, std::string_view key, const std::string& at, T& out,
               uint64_t min, uint64_t max) {
        if (!object.contains(key)) return true;
        const JsonValue& value = object.member(key);
        const std::string where = Join(at, key);
        if (!Kind(value, JsonType::Integer, where)) return false;
        const int64_t number = value.asInteger();
        if (number < 0 || uint64_t(number) < min || uint64_t(number) > max) {
            return Fail(where, std::to_string(number) + " is out of range (" + std::to_string(min) +
                                   " to " + std::to_string(max) + ")");
        }
        out = T(number);
        return true;
    }

    // Calls read(element, where) for each element of an array member.
    template <class F>
    bool Each(const JsonValue& object, std::string_view key, const std::string& at, F&& read) {
        if (!object.contains(key)) return true;
        const JsonValue& list = object.member(key);
        const std::string where = Join(at, key);
        if (!Kind(list, JsonType::Array, where)) return false;
        for (size_t i = 0; i < list.asArray().size(); ++i) {
            if (!read(list.asArray()[i], Index(where, i))) return false;
        }
        return true;
    }

private:
    std::string error_;
};

}  // namespace quillon::sim
