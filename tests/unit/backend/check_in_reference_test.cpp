// The application's check-in against the reference backend (backend/) on loopback, through the
// real HTTP adapter: what one side sends, the other understands.
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <thread>

#include "backend/check_in.h"
#include "backend/telemetry.h"
#include "fakes/fake_store_ports.h"
#include "fakes/log_capture.h"
#include "net/http_client.h"
#include "platform/linux/linux_clock.h"
#include "platform/linux/linux_http.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "service.h"
#include "sqlite_store.h"

namespace quillon {
namespace {

TEST(CheckInWithReferenceBackend, CredentialsTheOfferAndTelemetryArrive) {
    sim::SimSystem system;
    std::string error;
    auto store = server::SqliteStore::Open(system.Root() + "/backend.db", error);
    ASSERT_TRUE(store) << error;
    server::UpdateOfferRecord offer;
    offer.channel = "beta";
    offer.version = "1.1.0";
    offer.urgency = "recommended";
    offer.artifacts.push_back({"windows", "https://downloads.example/q-1.1.0.exe", ""});
    ASSERT_TRUE(store->PublishUpdate(offer, error)) << error;
    server::BackendService service(*store, server::ServiceOptions{});
    httplib::Server httpServer;
    service.Install(httpServer);
    const int port = httpServer.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&] { httpServer.listen_after_bind(); });

    lnx::LinuxClock clock;
    test::TestLog log{system, clock};
    lnx::LinuxHttp http{lnx::LinuxHttpOptions{}};
    HttpClient client(http);
    ASSERT_TRUE(client.Init());
    test::MemorySettings settings;
    test::FakeSecrets secrets;
    TelemetryCredentialStore credentials(&settings, &secrets);
    const AppConfig config{"beta", "http://127.0.0.1:" + std::to_string(port), "", ""};
    CheckIn checkIn(client, clock, config, InitIdentity(&settings, system), credentials);
    std::string answer;
    checkIn.SetAnswerHandler([&](const std::string& text) { answer = text; });

    const bool ok = checkIn.Run();
    // A batch with a token the server no longer knows: rejected, a new check-in, then taken.
    TelemetryCredentials revoked = credentials.Get();
    revoked.token = std::string(64, 'f');
    credentials.Save(revoked);
    sim::SimThreads threads;
    Telemetry telemetry(TelemetryPorts{client, clock, threads, credentials,
                                       checkIn.Identity().clientId, [&] { return checkIn.Run(); }});
    telemetry.TrackEvent("app.startup", R"({"reason":"launch"})");
    EXPECT_TRUE(telemetry.Shutdown(std::chrono::seconds(20)));
    client.Shutdown();  // closes its kept-alive connection, which the server would wait out
    httpServer.stop();
    serving.join();
    ASSERT_TRUE(ok) << log.Text();
    const TelemetryCredentials got = credentials.Get();
    EXPECT_NE(got.token, revoked.token);
    EXPECT_EQ(log.Count("[WARN] Telemetry token expired, triggering re-check-in"), 1);
    EXPECT_TRUE(got.active);
    EXPECT_EQ(got.endpoint, config.c2BaseUrl + "/v1/telemetry");
    EXPECT_EQ(got.token.size(), 64u);
    EXPECT_GT(got.tokenExpires, clock.UnixSeconds() + 3600);
    EXPECT_EQ(checkIn.LogUploadEndpoint(), config.c2BaseUrl + "/v1/logs");
    EXPECT_NE(answer.find(R"("targetVersion":"1.1.0")"), std::string::npos) << answer;
    EXPECT_EQ(log.Count("[INFO] Check-in successful, telemetry enabled"), 2);  // and after the 401
    EXPECT_EQ(log.Count(got.token), 0);
    std::vector<server::StoredEvent> events;
    ASSERT_TRUE(store->RecentEvents(checkIn.Identity().clientId, 10, events, error)) << error;
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event.type, "app.startup");
    EXPECT_EQ(events[0].event.dataJson, R"({"reason":"launch"})");
}

}  // namespace
}  // namespace quillon
