// The text form of the Linux settings file, apart from the file handling so that unit tests
// reach it: a JSON object {"values": {NAME: {"type": T, "value": V}}} with T one of "string",
// "expandable", "binary" (V in base64) or "dword" (V an integer). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings.h"

namespace quillon::lnx {

using SettingMap = std::map<std::string, SettingValue>;

// The file text: compact JSON and a final newline.
std::string EncodeSettings(const SettingMap& values);

// The values of a file text; nullopt when the text is not exactly a file this code writes
// (damaged, cut short, an entry of unknown type, trailing bytes). Whitespace between tokens is
// allowed, so an edit by hand that keeps the form still reads.
std::optional<SettingMap> DecodeSettings(std::string_view text);

}  // namespace quillon::lnx
