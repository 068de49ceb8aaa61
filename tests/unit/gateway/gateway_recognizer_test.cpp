// Recognising the home gateway: asked once per hardware address, only with the maker's prefix,
// off the caller's thread, and the answer kept until the address changes.
#include "gateway/gateway_recognizer.h"

#include <gtest/gtest.h>

#include "fakes/fake_service_ports.h"
#include "gateway/gateway_client.h"
#include "fakes/log_capture.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

TEST(GatewayRecognizer, AsksOncePerHardwareAddress) {
    sim::VirtualClock clock;
    sim::SimSystem system;
    test::TestLog log(system, clock);
    sim::SimThreads threads;  // the worker runs inline, before Recognised returns
    test::FakeHttp http;
    std::string body = R"({"hardware":{"shortname":"UDR"},"name":"Den"})";
    http.answer = [&](const HttpExchange&) { return test::Answered(200, body); };
    GatewayRecognizer recognizer(http, threads);

    EXPECT_FALSE(recognizer.Recognised("192.168.1.1", "A4:2B:B0:C1:7E:10"));
    EXPECT_TRUE(http.Sent().empty());  // not the maker's prefix: never asked

    EXPECT_FALSE(recognizer.Recognised("192.168.1.1", "fc:ec:da:01:02:03"));  // asked meanwhile
    const auto info = recognizer.Recognised("192.168.1.1", "fc:ec:da:01:02:03");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->model, "UDR");
    EXPECT_EQ(recognizer.Changes(), 1u);
    ASSERT_EQ(http.Sent().size(), 1u);
    EXPECT_EQ(http.Sent()[0].url, "https://192.168.1.1/api/system");
    EXPECT_EQ(http.Sent()[0].timeoutMs, kGatewayDetectTimeoutMs);
    EXPECT_EQ(log.Count("[INFO] UniFi gateway detected: Den (UDR)"), 1);

    // Another console answers as something else: not recognised, and said nowhere.
    body = R"({"name":"router"})";
    EXPECT_FALSE(recognizer.Recognised("192.168.1.1", "74:AC:B9:00:00:01"));
    EXPECT_FALSE(recognizer.Recognised("192.168.1.1", "74:AC:B9:00:00:01"));
    EXPECT_EQ(http.Sent().size(), 2u);
    EXPECT_EQ(recognizer.Changes(), 1u);

    EXPECT_TRUE(recognizer.Stop(std::chrono::milliseconds(100)));
    EXPECT_FALSE(recognizer.Recognised("192.168.1.1", "fc:ec:da:01:02:03"));
    EXPECT_EQ(http.Sent().size(), 2u);  // stopped: asks no more
}

}  // namespace
}  // namespace quillon
