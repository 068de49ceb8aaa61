#include "platform/linux/linux_autostart.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillon::lnx {

namespace {

namespace fs = std::filesystem;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Characters that make an argument need quotes under the desktop-entry rules.
bool NeedsQuotes(std::string_view arg) {
    if (arg.empty()) return true;
    for (char c : arg) {
        if (std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// The string-value escapes of desktop files: \s \n \t \r \\.
std::string UnescapeValue(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += value[i];
        }
    }
    return out;
}

std::string TrimValue(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return std::string(s);
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i < line.size() && line[i] == '"') {
        const size_t close = line.find('"', i + 1);
        const size_t end = close == std::string_view::npos ? line.size() : close;
        out.emplace_back(line.substr(i + 1, end - i - 1));
        i = close == std::string_view::npos ? line.size() : close + 1;
    }
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        const size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) ++i;
        if (i > start) out.emplace_back(line.substr(start, i - start));
    }
    return out;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
    std::string out;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) out += ' ';
        const std::string& a = arguments[i];
        const bool quote = i == 0 || a.empty() || a.find_first_of(" \t") != std::string::npos;
        out += quote ? "\"" + a + "\"" : a;
    }
    return out;
}

std::string DesktopExec(const std::vector<std::string>& arguments) {
    std::string exec;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) exec += ' ';
        std::string arg;
        for (char c : arguments[i]) {
            if (c == '%') {
                arg += "%%";
            } else {
                arg += c;
            }
        }
        if (!NeedsQuotes(arguments[i])) {
            exec += arg;
            continue;
        }
        exec += '"';
        for (char c : arg) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') exec += '\\';
            exec += c;
        }
        exec += '"';
    }
    // The value itself is a desktop-file string: its backslashes are escaped once more, and
    // line breaks may not appear raw.
    std::string value;
    for (char c : exec) {
        if (c == '\\') {
            value += "\\\\";
        } else if (c == '\n') {
            value += "\\n";
        } else if (c == '\r') {
            value += "\\r";
        } else {
            value += c;
        }
    }
    return value;
}

std::optional<std::vector<std::string>> ParseDesktopExec(std::string_view value) {
    const std::string exec = UnescapeValue(value);
    std::vector<std::string> out;
    size_t i = 0;
    while (i < exec.size()) {
        while (i < exec.size() && IsBlank(exec[i])) ++i;
        if (i == exec.size()) break;
        std::string arg;
        if (exec[i] == '"') {
            ++i;
            bool closed = false;
            while (i < exec.size()) {
                const char c = exec[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < exec.size()) {
                    arg += exec[i++];
                } else {
                    arg += c;
                }
            }
            if (!closed || (i < exec.size() && !IsBlank(exec[i]))) return std::nullopt;
        } else {
            while (i < exec.size() && !IsBlank(exec[i])) arg += exec[i++];
        }
        std::string unpercent;
        for (size_t k = 0; k < arg.size(); ++k) {
            unpercent += arg[k];
            if (arg[k] == '%' && k + 1 < arg.size() && arg[k + 1] == '%') ++k;
        }
        out.push_back(std::move(unpercent));
    }
    return out;
}

std::optional<std::string> DesktopEntryExec(std::string_view text) {
    bool inEntry = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.front() == '[') {
            inEntry = TrimValue(line) == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        if (TrimValue(line.substr(0, equals)) == "Exec") return TrimValue(line.substr(equals + 1));
    }
    return std::nullopt;
}

LinuxAutostart::LinuxAutostart(std::string configHome) {
    if (!configHome.empty())
        path_ = (fs::path(configHome) / "autostart" / "quillon.desktop").string();
}

std::optional<std::string> LinuxAutostart::Read() {
    if (path_.empty()) return std::nullopt;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    const auto exec = DesktopEntryExec(text.str());
    if (!exec) return std::nullopt;
    const auto arguments = ParseDesktopExec(*exec);
    if (!arguments || arguments->empty()) return std::nullopt;
    return JoinCommandLine(*arguments);
}

bool LinuxAutostart::Write(const std::string& commandLine) {
    if (path_.empty()) return false;
    const std::vector<std::string> arguments = SplitCommandLine(commandLine);
    if (arguments.empty()) return false;
    std::error_code ec;
    fs::create_directories(fs::path(path_).parent_path(), ec);
    const std::string temporary = path_ + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Quillon\n"
               "Comment=Home network diagnostics\n"
               "Exec="
            << DesktopExec(arguments)
            << "\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n";
        out.close();
        if (!out) {
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, path_, ec);
    if (!ec) return true;
    fs::remove(temporary, ec);
    return false;
}

bool LinuxAutostart::Remove() {
    if (path_.empty()) return true;
    std::error_code ec;
    fs::remove(path_, ec);
    return !ec;
}

}  // namespace quillon::lnx
