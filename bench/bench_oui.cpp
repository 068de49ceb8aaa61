// Vendor look-ups on the full IEEE registry (the lists Debian's ieee-data installs, about fifty
// thousand blocks of 24, 28 and 36 bits): a listed address, a locally administered one that
// runs through every fallback and still finds nothing (the slowest answer), and the whole call
// the network state builder makes (lock, table, copy of the name). The goal is under 1 µs a
// look-up. Reading the lists (registry text, and the same blocks as a manuf list) is the
// start-up cost, measured beside them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "discovery/oui_database.h"
#include "discovery/oui_table.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/virtual_clock.h"

namespace {

using namespace quillon;

const std::vector<std::string> kRegistryFiles = {
    "/usr/share/ieee-data/oui.txt", "/usr/share/ieee-data/mam.txt",
    "/usr/share/ieee-data/oui36.txt", "/usr/share/ieee-data/iab.txt"};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::vector<std::string>& RegistryTexts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> out;
        for (const std::string& path : kRegistryFiles) out.push_back(ReadFile(path));
        return out;
    }();
    return texts;
}

const std::vector<OuiEntry>& RegistryEntries() {
    static const std::vector<OuiEntry> entries = [] {
        std::vector<OuiEntry> out;
        for (const std::string& text : RegistryTexts()) {
            for (OuiEntry& entry : ParseIeeeRegistryText(text)) out.push_back(std::move(entry));
        }
        return out;
    }();
    return entries;
}

const OuiTable& FullTable() {
    static const OuiTable table = [] {
        OuiTable t;
        t.Add(RegistryEntries());
        return t;
    }();
    return table;
}

// The same blocks as the downloaded list would have them.
std::string AsManufList(const std::vector<OuiEntry>& entries) {
    std::string text = "# generated from the IEEE registry\n";
    for (const OuiEntry& entry : entries) {
        std::string digits = entry.prefix;
        if (digits.size() > 6) digits.resize(12, '0');
        for (size_t i = 0; i < digits.size(); i += 2) {
            if (i > 0) text += ':';
            text += digits.substr(i, 2);
        }
        if (entry.prefix.size() == 7) text += "/28";
        if (entry.prefix.size() == 9) text += "/36";
        text += "\tShort\t" + entry.vendor + "\n";
    }
    return text;
}

// Addresses "PP:PP:PP:12:34:56" for listed prefixes, spread over the table.
std::vector<std::string> ListedAddresses() {
    std::vector<std::string> out;
    const std::vector<OuiEntry>& entries = RegistryEntries();
    for (size_t i = 0; i < entries.size() && out.size() < 4096; i += 13) {
        std::string hex = entries[i].prefix;
        hex.resize(12, '0');
        char mac[18];
        std::snprintf(mac, sizeof mac, "%.2s:%.2s:%.2s:%.2s:%.2s:%.2s", hex.data(), hex.data() + 2,
                      hex.data() + 4, hex.data() + 6, hex.data() + 8, hex.data() + 10);
        out.emplace_back(mac);
    }
    return out;
}

bool HaveRegistry(benchmark::State& state) {
    if (FullTable().Size() > 0) return true;
    state.SkipWithError("no IEEE registry lists in /usr/share/ieee-data (scripts/setup)");
    return false;
}

void BM_OuiLookupListed(benchmark::State& state) {
    if (!HaveRegistry(state)) return;
    const OuiTable& table = FullTable();
    const std::vector<std::string> addresses = ListedAddresses();
    size_t i = 0, found = 0;
    for (auto _ : state) {
        const std::string* vendor = table.FindVendor(addresses[i++ % addresses.size()]);
        found += vendor != nullptr;
        benchmark::DoNotOptimize(vendor);
    }
    state.counters["entries"] = static_cast<double>(table.Size());
    state.counters["found_percent"] = 100.0 * static_cast<double>(found) / state.iterations();
}
BENCHMARK(BM_OuiLookupListed);

void BM_OuiLookupRandomisedUnlisted(benchmark::State& state) {
    if (!HaveRegistry(state)) return;
    const OuiTable& table = FullTable();
    // Locally administered with an odd third octet, and no block listed for any variant:
    // every fallback is tried.
    const std::string mac = "FE:FE:FF:01:02:03";
    if (table.FindVendor(mac) != nullptr) {
        state.SkipWithError("the chosen unlisted address is listed");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(table.FindVendor(mac));
}
BENCHMARK(BM_OuiLookupRandomisedUnlisted);

void BM_OuiDatabaseGetVendor(benchmark::State& state) {
    if (!HaveRegistry(state)) return;
    sim::SimSystem system;
    system.SetAppFolder(AppFolder::Cache, "");  // no cache file, no download: the lists alone
    sim::VirtualClock clock;
    sim::SimThreads threads;
    OuiDatabase database(OuiDatabasePorts{system, clock, threads}, kRegistryFiles);
    database.Load();
    const std::vector<std::string> addresses = ListedAddresses();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(database.GetVendor(addresses[i++ % addresses.size()]));
    }
}
BENCHMARK(BM_OuiDatabaseGetVendor);

void BM_OuiReadRegistryLists(benchmark::State& state) {
    if (!HaveRegistry(state)) return;
    for (auto _ : state) {
        OuiTable table;
        for (const std::string& text : RegistryTexts()) table.Add(ParseIeeeRegistryText(text));
        benchmark::DoNotOptimize(table.Size());
    }
}
BENCHMARK(BM_OuiReadRegistryLists)->Unit(benchmark::kMillisecond);

void BM_OuiReadManufList(benchmark::State& state) {
    if (!HaveRegistry(state)) return;
    const std::string text = AsManufList(RegistryEntries());
    for (auto _ : state) {
        OuiTable table;
        table.Add(ParseOuiList(text));
        benchmark::DoNotOptimize(table.Size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_OuiReadManufList)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
