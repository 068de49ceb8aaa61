// UnifiSystemInfo: what a UniFi gateway says about itself when asked, unauthenticated, for its
// system description. The gateway client fills one when it recognises the home gateway; the
// network state builder keeps the result on the UI thread until the gateway's hardware address
// changes and shows its model (or name) as the gateway's name. A plain value.
#pragma once

#include <string>

namespace quillon {

struct UnifiSystemInfo {
    std::string name;   // the console's own name
    std::string model;  // its short model name
    std::string mac;
    bool cloudConnected = false;
    bool hasInternet = false;
};

}  // namespace quillon
