#include "frame/controller_registry.h"

#include <gtest/gtest.h>

#include <atomic>

#include "common/dispatch.h"
#include "support/websocket_fixture.h"

namespace brisel::frame {
namespace {

using test_support::kReplyWait;

// Answers from a thread of its own after respond() has returned, keeping itself alive meanwhile.
class DeferredStopController : public BriselAction,
                               public std::enable_shared_from_this<DeferredStopController> {
  public:
    DeferredStopController(std::shared_ptr<WebSocket> connection, LiveClassificationStopRequest stop,
                           std::atomic<int>& responds)
        : ws(std::move(connection)), request(stop), respondCount(responds) {}

    void respond() override {
        ++respondCount;
        common::dispatchAsync(common::QualityOfService::utility, [self = shared_from_this()] {
            self->ws->write(std::string(R"({"stopped":)") +
                            (self->request.liveClassificationStopRequest ? "true" : "false") + "}");
        });
    }

  private:
    std::shared_ptr<WebSocket> ws;
    LiveClassificationStopRequest request;
    std::atomic<int>& respondCount;
};

class ControllerRegistryTest : public test_support::WebSocketServerFixture {
  protected:
    void addControllers(ControllerRegistry& registry) override {
        registry.add<LiveClassificationStopRequest>([this](const std::shared_ptr<WebSocket>& connection,
                                                           const LiveClassificationStopRequest& request) {
            return std::make_shared<DeferredStopController>(connection, request, responds);
        });
    }

    std::atomic<int> responds{0};
};

TEST_F(ControllerRegistryTest, DecodedRequestStartsItsControllerOnceAndItOutlivesRespond) {
    auto client = connect();
    ASSERT_TRUE(client.sendText(R"({"liveClassificationStopRequest": true})"));
    auto reply = client.receive(kReplyWait);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->payload, R"({"stopped":true})");
    EXPECT_EQ(responds.load(), 1);
    EXPECT_TRUE(test_support::loggedMessages(log, "No controller serves ").empty());
}

TEST(ControllerRegistryNamesTest, RequestsWithoutControllerGiveNone) {
    const auto registry = ControllerRegistry::withFrameControllers();
    const RoutedRequest stop = LiveClassificationStopRequest{true};
    EXPECT_EQ(registry.create(nullptr, stop), nullptr);
    EXPECT_EQ(requestTypeName(stop), "LiveClassificationStopRequest");
    EXPECT_NE(registry.create(nullptr, RoutedRequest{VersionInformation{0}}), nullptr);
}

}  // namespace
}  // namespace brisel::frame
