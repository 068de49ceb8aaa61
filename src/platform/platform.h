// Platform: one adapter for every port, handed by the entry point to the application's
// composition root. Adapters are owned by whoever builds the Platform and outlive the
// application object.
#pragma once

namespace quillon {

class Autostart;
class Capture;
class Clock;
class Dns;
class Files;
class Http;
class IcmpApi;
class NetEvents;
class NetInfo;
class Secrets;
class Settings;
class Shell;
class Sockets;
class System;
class Threads;
class Wlan;

struct Platform {
    Clock* clock = nullptr;
    Threads* threads = nullptr;
    System* system = nullptr;
    IcmpApi* icmp = nullptr;
    NetInfo* netInfo = nullptr;
    NetEvents* netEvents = nullptr;
    Wlan* wlan = nullptr;
    Dns* dns = nullptr;
    Files* files = nullptr;
    Sockets* sockets = nullptr;
    Http* http = nullptr;
    Settings* settings = nullptr;
    Secrets* secrets = nullptr;
    Autostart* autostart = nullptr;
    Capture* capture = nullptr;
    Shell* shell = nullptr;
};

}  // namespace quillon
