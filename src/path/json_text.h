// JsonText: a small writer of compact JSON text whose members come out in the order they are
// written (messages whose member order is part of their contract, unlike JsonValue's
// key-ordered objects). Numbers are written in fixed notation independent of the C locale.
// Outside text (host names, AS names, SSIDs) is escaped so that no byte below 0x20 can break
// the message. Not thread-safe; one writer per message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// Fixed notation with `decimals` places, '.' as decimal point whatever the locale.
void AppendFixed(std::string& out, double value, int decimals);
std::string FormatFixed(double value, int decimals);

class JsonText {
public:
    JsonText& BeginObject();
    JsonText& EndObject();
    JsonText& BeginArray();
    JsonText& EndArray();
    JsonText& Key(std::string_view key);

    JsonText& String(std::string_view text);
    JsonText& Integer(int64_t value);
    JsonText& Fixed(double value, int decimals);
    JsonText& Bool(bool value);
    // Already serialised JSON, inserted as it is.
    JsonText& Raw(std::string_view json);

    // Shorthands for a member.
    JsonText& Member(std::string_view key, std::string_view text) { return Key(key).String(text); }
    JsonText& Member(std::string_view key, const char* text) { return Key(key).String(text); }
    JsonText& Member(std::string_view key, const std::string& text) { return Key(key).String(text); }
    JsonText& Member(std::string_view key, int64_t value) { return Key(key).Integer(value); }
    JsonText& Member(std::string_view key, int32_t value) { return Key(key).Integer(value); }
    JsonText& Member(std::string_view key, uint32_t value) { return Key(key).Integer(value); }
    JsonText& Member(std::string_view key, bool value) { return Key(key).Bool(value); }
    JsonText& MemberFixed(std::string_view key, double value, int decimals) {
        return Key(key).Fixed(value, decimals);
    }

    const std::string& Text() const { return out_; }
    std::string Take() { return std::move(out_); }

private:
    void BeforeValue();

    std::string out_;
    bool needComma_ = false;
};

}  // namespace quillon
