#include "backend/telemetry.h"

#include <gtest/gtest.h>

#include "base/json_value.h"
#include "fakes/fake_service_ports.h"
#include "fakes/fake_store_ports.h"
#include "fakes/held_threads.h"
#include "fakes/log_capture.h"
#include "net/http_client.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

struct TelemetryRig {
    explicit TelemetryRig(Threads& threads)
        : telemetry(TelemetryPorts{client, clock, threads, credentials, "ID-1", [this] {
                                       ++checkIns;
                                       credentials.Save(renewed);
                                       return true;
                                   }}) {
        client.Init();
        credentials.Save({"https://t.example/v1/telemetry", "tok", 2000000000, true});
        http.answer = [this](const HttpExchange&) {
            const int status = statuses.empty() ? 200 : statuses.front();
            if (!statuses.empty()) statuses.erase(statuses.begin());
            return test::Answered(status);
        };
    }
    std::vector<HttpExchange> Sent() { return http.Sent(); }

    sim::VirtualClock clock;
    sim::SimSystem system;
    test::TestLog log{system, clock};
    test::FakeHttp http;
    HttpClient client{http};
    test::MemorySettings settings;
    test::FakeSecrets secrets;
    TelemetryCredentialStore credentials{&settings, &secrets};
    TelemetryCredentials renewed{"https://t.example/v1/telemetry", "tok-2", 2000000000, true};
    std::vector<int> statuses;  // answers in turn; then 200
    int checkIns = 0;
    Telemetry telemetry;
};

TEST(Telemetry, BatchDocumentKeepsObjectsAndQuotesTheRest) {
    const std::deque<TelemetryEvent> events = {
        {"app.startup", R"({"reason":"launch","n":9.0})", 5}, {"x", "42", 6}, {"y", "not json", 7}};
    EXPECT_EQ(BatchDocument("ID-1", events),
              R"({"clientId":"ID-1","events":[)"
              R"({"data":{"n":9,"reason":"launch"},"timestamp":5,"type":"app.startup"},)"
              R"({"data":"42","timestamp":6,"type":"x"},)"
              R"({"data":"not json","timestamp":7,"type":"y"}]})");
}

TEST(Telemetry, SendsWhenOneHundredAreQueuedOrTheLastBatchIsOldOrTheyAreLarge) {
    sim::SimThreads threads;  // inline: a due batch is sent before TrackEvent returns
    TelemetryRig rig(threads);
    for (int i = 0; i < 99; ++i) rig.telemetry.TrackEvent("e", "{}");
    EXPECT_EQ(rig.Sent().size(), 0u);
    rig.telemetry.TrackEvent("e", "{}");
    ASSERT_EQ(rig.Sent().size(), 1u);
    const HttpExchange batch = rig.Sent()[0];
    EXPECT_EQ(batch.url, "https://t.example/v1/telemetry");
    EXPECT_NE(std::find(batch.headers.begin(), batch.headers.end(),
                        std::pair<std::string, std::string>("Authorization", "Bearer tok")),
              batch.headers.end());
    EXPECT_EQ(JsonValue::parse(batch.body).member("events").asArray().size(), 100u);

    rig.clock.Advance(Telemetry::kFlushAgeMs);
    rig.telemetry.TrackEvent("late", "{}");
    EXPECT_EQ(rig.Sent().size(), 2u);  // alone, at once

    // 20,000 bytes count 20,100: the 53rd such event passes 1 MiB.
    const std::string big = "\"" + std::string(19998, 'x') + "\"";
    for (int i = 0; i < 52; ++i) rig.telemetry.TrackEvent("big", big);
    EXPECT_EQ(rig.Sent().size(), 2u);
    rig.telemetry.TrackEvent("big", big);
    EXPECT_EQ(rig.Sent().size(), 3u);

    // Shutdown sends what is left; later events are ignored.
    rig.telemetry.TrackEvent("app.shutdown", R"({"reason":"exit"})");
    EXPECT_TRUE(rig.telemetry.Shutdown(std::chrono::milliseconds(100)));
    rig.telemetry.TrackEvent("after", "{}");
    ASSERT_EQ(rig.Sent().size(), 4u);
    EXPECT_NE(rig.Sent()[3].body.find("app.shutdown"), std::string::npos);
    EXPECT_EQ(rig.telemetry.Queued(), 0u);
}

TEST(Telemetry, RetriesThreeTimesAndRenewsARejectedToken) {
    sim::SimThreads threads;
    TelemetryRig rig(threads);
    rig.statuses = {503, 503, 503};
    rig.clock.Advance(Telemetry::kFlushAgeMs);
    rig.telemetry.TrackEvent("e", "{}");
    EXPECT_EQ(rig.Sent().size(), 3u);
    EXPECT_EQ(rig.log.Lines({"send failed"}),
              (std::vector<std::string>{
                  "[WARN] Telemetry send failed (attempt 1): Service unavailable (status 503)",
                  "[WARN] Telemetry send failed (attempt 2): Service unavailable (status 503)",
                  "[WARN] Telemetry send failed (attempt 3): Service unavailable (status 503)"}));

    // 401: a new check-in, and the next attempt carries the new token.
    rig.statuses = {401};
    rig.clock.Advance(Telemetry::kFlushAgeMs);
    rig.telemetry.TrackEvent("e", "{}");
    ASSERT_EQ(rig.Sent().size(), 5u);
    EXPECT_EQ(rig.checkIns, 1);
    EXPECT_EQ(rig.Sent()[4].headers.front(),
              (std::pair<std::string, std::string>("Authorization", "Bearer tok-2")));

    // A renewed token about to expire ends the batch.
    rig.renewed.tokenExpires = static_cast<uint32_t>(rig.clock.UnixSeconds() + 60);
    rig.statuses = {401};
    rig.clock.Advance(Telemetry::kFlushAgeMs);
    rig.telemetry.TrackEvent("e", "{}");
    EXPECT_EQ(rig.Sent().size(), 6u);
    EXPECT_EQ(rig.checkIns, 2);

    // Inactive: dropped unsent, not kept for later.
    rig.credentials.SetActive(false);
    rig.clock.Advance(Telemetry::kFlushAgeMs);
    rig.telemetry.TrackEvent("e", "{}");
    EXPECT_EQ(rig.Sent().size(), 6u);
    EXPECT_EQ(rig.telemetry.Queued(), 0u);
}

TEST(Telemetry, ASlowBackendNeverGrowsTheQueuePastItsBound) {
    test::HeldThreads threads;  // the sending worker is held up
    TelemetryRig rig(threads);
    for (size_t i = 0; i < Telemetry::kMaxQueued + 500; ++i) rig.telemetry.TrackEvent("e", "{}");
    EXPECT_EQ(threads.held.size(), 1u);  // one worker, whatever the backlog
    EXPECT_EQ(rig.telemetry.Queued(), Telemetry::kMaxQueued);
    EXPECT_EQ(rig.telemetry.DroppedEvents(), 500u);
    EXPECT_EQ(rig.log.Count("Telemetry queue full"), 1);
    threads.RunHeld();
    EXPECT_EQ(rig.Sent().size(), 1u);
    EXPECT_EQ(rig.telemetry.Queued(), 0u);
}

TEST(Telemetry, AnHourWithTheBackendDownKeepsNothingAndAsksAtAMeasuredPace) {
    sim::SimThreads threads;
    TelemetryRig rig(threads);
    rig.http.answer = [](const HttpExchange&) { return HttpOutcome{}; };  // no answer at all
    size_t most = 0;
    for (int second = 0; second < 3600; second += 5) {
        rig.telemetry.TrackEvent("network.measurement", R"({"hops":[]})");
        most = std::max(most, rig.telemetry.Queued());
        rig.clock.Advance(5000);
    }
    EXPECT_LE(most, 7u);  // 30 s of events at most: every due batch is tried and let go
    EXPECT_EQ(rig.telemetry.DroppedEvents(), 0u);
    // Three attempts a batch, one batch every 30-odd seconds (the pauses count too).
    EXPECT_GE(rig.Sent().size(), 3u * 100);
    EXPECT_LE(rig.Sent().size(), 3u * 121);
}

}  // namespace
}  // namespace quillon
