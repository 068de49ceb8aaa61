// JsonValue owns the application's JSON documents: one value type, a lenient parser and a compact
// serialiser, plus the UTF-8/UTF-16 conversions used where text crosses into wide strings and the
// classic-locale decimal reader used for numeric text from web APIs.
//
// Every JSON text the application reads or builds (UI commands and replies, service definitions,
// the configuration file, backend exchanges, GeoIP answers and their cache) goes through here.
// A JsonValue is a plain value: copies are deep and moves leave the source valid. It has no
// internal locking: concurrent reads of one value are safe, a writer needs the caller's lock.
// Parsing and serialising never consult the global C or C++ locale.
//
// The parser never reports a syntax error: it reads one value, stops where the text stops making
// sense and returns what it has built. Only a malformed number or \u escape throws, with the
// standard conversion exceptions (std::invalid_argument / std::out_of_range).
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/standard_numbers.h"
#include "base/utf8.h"

namespace quillon {

// The order is the variant's index; type tests throughout the application rely on it.
enum class JsonType { Null, Bool, Integer, Number, String, Array, Object };

// Containers nested deeper than this are not descended into: the parser stops at the opening
// bracket as at any unexpected byte, so hostile input cannot exhaust the stack.
inline constexpr int kMaxJsonDepth = 512;

// Integral types other than bool, which has a kind of its own.
template <class T>
concept NonBoolIntegral = std::integral<T> && !std::same_as<T, bool>;

class JsonValue {
public:
    using Array = std::vector<JsonValue>;
    // Keys ordered by their bytes; std::less<> allows lookups by string_view without a copy.
    using Object = std::map<std::string, JsonValue, std::less<>>;

    JsonValue() noexcept = default;
    JsonValue(std::nullptr_t) noexcept {}
    // Templates so that pointers and other types do not silently convert to bool or Integer.
    template <std::same_as<bool> B>
    JsonValue(B b) noexcept : value_(std::in_place_index<1>, b) {}
    template <NonBoolIntegral T>
    JsonValue(T n) noexcept : value_(std::in_place_index<2>, static_cast<std::int64_t>(n)) {}
    JsonValue(double d) noexcept : value_(std::in_place_index<3>, d) {}
    JsonValue(std::string s) noexcept : value_(std::in_place_index<4>, std::move(s)) {}
    JsonValue(std::string_view s) : value_(std::in_place_index<4>, s) {}
    JsonValue(const char* s) : JsonValue(std::string_view(s ? s : "")) {}
    JsonValue(Array a) noexcept : value_(std::in_place_index<5>, std::move(a)) {}
    JsonValue(Object o) noexcept : value_(std::in_place_index<6>, std::move(o)) {}

    JsonValue(const JsonValue&) = default;
    JsonValue(JsonValue&&) noexcept = default;
    // Safe when the source lives inside this value (node = node.member("child")).
    JsonValue& operator=(const JsonValue& other);
    JsonValue& operator=(JsonValue&& other) noexcept;
    ~JsonValue() = default;

    // The kind; a value left without any alternative by a failed assignment matches no kind.
    JsonType type() const noexcept;

    // Typed reads; a kind mismatch throws std::bad_variant_access ("bad variant access").
    bool asBool() const { return Get<bool>(); }
    bool& asBool() { return Get<bool>(); }
    std::int64_t asInteger() const { return Get<std::int64_t>(); }
    std::int64_t& asInteger() { return Get<std::int64_t>(); }
    double asDouble() const { return Get<double>(); }
    double& asDouble() { return Get<double>(); }
    const std::string& asString() const { return Get<std::string>(); }
    std::string& asString() { return Get<std::string>(); }
    const Array& asArray() const { return Get<Array>(); }
    Array& asArray() { return Get<Array>(); }
    const Object& asObject() const { return Get<Object>(); }
    Object& asObject() { return Get<Object>(); }

    // Writing access: a non-Object becomes an empty Object first; an absent key is added as Null.
    JsonValue& operator[](std::string_view key);
    // Reading access: the member, or a shared immutable Null when absent or not an Object.
    const JsonValue& member(std::string_view key) const;
    bool contains(std::string_view key) const;
    // Appends to an Array; any other value is first replaced by an empty Array, as operator[]
    // does for objects. Capacity grows by half (at least by one).
    void push_back(JsonValue value);

    // Reads one value after leading whitespace and ignores whatever follows it.
    static JsonValue parse(std::string_view text);
    // Compact text: no whitespace, object members in key order, doubles as "%.15g",
    // non-finite doubles as null.
    std::string dump() const;
    // The bytes as a quoted JSON string literal; bytes from 0x7F up are copied unchanged.
    static std::string escapeString(std::string_view bytes);

private:
    friend class JsonParser;

    template <class T>
    const T& Get() const {
        if (const T* p = std::get_if<T>(&value_)) return *p;
        ThrowBadAccess();
    }
    template <class T>
    T& Get() {
        if (T* p = std::get_if<T>(&value_)) return *p;
        ThrowBadAccess();
    }
    [[noreturn]] static void ThrowBadAccess();
    void AppendTo(std::string& out) const;

    std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Array, Object> value_;
};

}  // namespace quillon
