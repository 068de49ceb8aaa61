// Autostart: the entry that starts the application when the user logs on. The core decides
// what command line the entry carries; adapters store it where the desktop looks for it.
// Called on the UI thread.
#pragma once

#include <optional>
#include <string>

namespace quillon {

class Autostart {
public:
    virtual ~Autostart() = default;
    // The command line of the entry, or nothing when there is none.
    virtual std::optional<std::string> Read() = 0;
    // Creates or replaces the entry. False when it could not be written.
    virtual bool Write(const std::string& commandLine) = 0;
    // False when an existing entry could not be removed.
    virtual bool Remove() = 0;
};

}  // namespace quillon
