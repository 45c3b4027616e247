#include "frame/replies.h"

#include <gtest/gtest.h>

#include <limits>

#include "frame/feature_replies.h"

namespace brisel::frame {
namespace {

template <class Payload>
std::string textOf(const BriselResponse<Payload>& reply) {
    auto text = encodeReply(reply);
    EXPECT_TRUE(text) << text.error().describe();
    return text ? *text : std::string();
}

TEST(ReplyEnvelopeTest, ErrorRepliesWithoutExplanationHaveOnlyTheErrorKind) {
    EXPECT_EQ(textOf(errorReply(BriselError{BriselErrorType::noData, std::nullopt})),
              R"({"command":"error","status":"ERROR","data":{"error":"noData"}})");
    EXPECT_EQ(textOf(errorReply(BriselError{BriselErrorType::unknownMessageType, std::nullopt})),
              R"({"command":"error","status":"ERROR","data":{"error":"unknownMessageType"}})");
}

TEST(ReplyEnvelopeTest, IncompatibleVersionCarriesTheOutOfDateNotice) {
    EXPECT_EQ(kOutOfDateNotice.size(), 239U);
    EXPECT_EQ(
        textOf(errorReply(incompatibleVersionError())),
        R"({"command":"error","status":"ERROR","data":{"error":"incompatibleVersion","errorMessage":)"
        R"("Velko Brisel is out of date or not installed. This may result in errors and some features may be )"
        R"(unavailable. Visit <a href=\"https://sw.velko.example/resource\">https://sw.velko.example/resources</a>)"
        R"( to download the latest software package."}})");
}

TEST(ReplyEnvelopeTest, HandshakeCarriesTheServiceBuild) {
    EXPECT_EQ(textOf(handshakeReply()),
              R"({"command":"handshake","status":"OK","data":{"build":10240000008025}})");
}

TEST(ReplyEnvelopeTest, NamesStatusesAndErrorsReadBackExactly) {
    EXPECT_EQ(common::decodeJsonText<BriselStatus>(R"("OK")"), BriselStatus::ok);
    EXPECT_FALSE(common::decodeJsonText<BriselStatus>(R"("ok")"));
    EXPECT_EQ(common::decodeJsonText<BriselStatus>(R"("MESSAGE")"), BriselStatus::message);
    EXPECT_EQ(common::decodeJsonText<BriselResponseName>(R"("deviceManagerResponse")"),
              BriselResponseName::deviceManagerResponse);
    EXPECT_EQ(common::decodeJsonText<BriselError>(R"({"error":"noData"})"),
              (BriselError{BriselErrorType::noData, std::nullopt}));
    EXPECT_FALSE(common::decodeJsonText<BriselError>(R"({"errorMessage":"x"})"));
    EXPECT_FALSE(common::decodeJsonText<BriselError>(R"({"error":"NoData"})"));
}

TEST(FeatureRepliesTest, FlashStartHasAnEmptyDataObject) {
    EXPECT_EQ(
        textOf(featureReply(BriselFlashResponse{.status = BriselFlashResponseStatus::start, .data = {}})),
        R"({"command":"desktopClientResponse","status":"MESSAGE",)"
        R"("data":{"command":"flash","status":"START","data":{}}})");
    EXPECT_EQ(
        textOf(featureReply(BriselFlashResponse{.status = BriselFlashResponseStatus::manual_device_reset,
                                                .data = {.runId = 17, .message = "Reset"}})),
        R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"flash",)"
        R"("status":"MANUAL_DEVICE_RESET","data":{"run_id":17,"message":"Reset"}}})");
    EXPECT_EQ(
        textOf(featureReply(BriselFlashResponse{.status = BriselFlashResponseStatus::error,
                                                .data = {.runId = std::nullopt, .message = "No port"}})),
        R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"flash",)"
        R"("status":"ERROR","data":{"message":"No port"}}})");
}

TEST(FeatureRepliesTest, ContaminationHasNoData) {
    EXPECT_EQ(textOf(featureReply(
                  ContaminationThresholdResponse{.status = ContaminationThresholdResponseStatus::done})),
              R"({"command":"desktopClientResponse","status":"MESSAGE",)"
              R"("data":{"command":"contamination_threshold","status":"DONE"}})");
    EXPECT_EQ(textOf(featureReply(
                  ContaminationThresholdResponse{.status = ContaminationThresholdResponseStatus::failed})),
              R"({"command":"desktopClientResponse","status":"MESSAGE",)"
              R"("data":{"command":"contamination_threshold","status":"FAILED"}})");
}

TEST(FeatureRepliesTest, DataCollectionWithEveryOptionalAbsent) {
    const BriselDataCollectionResponse payload{
        .status = BriselDataCollectionResponseStatus::startReset,
        .data = {.collected = 0, .uploaded = 0, .projectID = 4, .eventRange = {}, .final = false}};
    EXPECT_EQ(textOf(featureReply(payload)),
              R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"datacollection",)"
              R"("status":"start reset","data":{"collected":0,"uploaded":0,"final":false,"project_id":4,)"
              R"("event_range":[]}}})");
}

TEST(FeatureRepliesTest, DataCollectionWithEveryOptionalPresent) {
    const BriselDataCollectionResponse payload{
        .status = BriselDataCollectionResponseStatus::deviceNotTransmitting,
        .data = {.collected = 120,
                 .uploaded = 100,
                 .message = "busy",
                 .collectionID = 31,
                 .projectID = 4,
                 .eventRange = {0.1F, 2.5F},
                 .final = true,
                 .duration = 1.25,
                 .data = std::map<std::string, std::vector<std::vector<float>>>{
                     {"accel", {{0.1F, -1.0F}, {3.0F}}}}}};
    const std::string text = textOf(featureReply(payload));
    EXPECT_EQ(
        text,
        R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"datacollection",)"
        R"("status":"NOT_TRANSMITTING","data":{"collected":120,"uploaded":100,"message":"busy","final":true,)"
        R"("duration":1.25,"data":{"accel":[[0.1,-1.0],[3.0]]},"collection_id":31,"project_id":4,)"
        R"("event_range":[0.1,2.5]}}})");
    auto back = common::decodeJsonText<BriselResponse<BriselDataCollectionResponse>>(text);
    ASSERT_TRUE(back) << back.error().describe();
    EXPECT_EQ(back->data, payload);
}

TEST(FeatureRepliesTest, LowerCaseDataCollectionStatusesKeepTheirBlank) {
    for (auto [status, raw] :
         {std::pair{BriselDataCollectionResponseStatus::finishReset, "finish reset"},
          std::pair{BriselDataCollectionResponseStatus::startWaiting, "start waiting"},
          std::pair{BriselDataCollectionResponseStatus::finishWaiting, "finish waiting"}}) {
        EXPECT_EQ(common::rawValue(status), raw);
        EXPECT_EQ(common::fromRawValue<BriselDataCollectionResponseStatus>(raw), status);
    }
    EXPECT_FALSE(common::fromRawValue<BriselDataCollectionResponseStatus>("START RESET"));
}

TEST(FeatureRepliesTest, LatencyStringAndClassificationShapes) {
    EXPECT_EQ(textOf(featureReply(
                  BriselLatencyResponse{.status = BriselLatencyResponseStatus::success, .data = {}})),
              R"({"command":"desktopClientResponse","status":"MESSAGE",)"
              R"("data":{"command":"latency","status":"SUCCESS","data":{}}})");
    EXPECT_EQ(textOf(featureReply(BriselStringResponse{BriselStringCommand::checkDeviceConnection,
                                                       BriselStringResponseStatus::message,
                                                       {{"wifi", "true"}}})),
              R"({"command":"desktopClientResponse","status":"MESSAGE",)"
              R"("data":{"command":"check_device_connection","status":"MESSAGE","data":{"wifi":"true"}}})");
    EXPECT_EQ(textOf(featureReply(BriselStringResponse{
                  BriselStringCommand::checkDependencies, BriselStringResponseStatus::done, {}})),
              R"({"command":"desktopClientResponse","status":"MESSAGE",)"
              R"("data":{"command":"check_dependencies","status":"DONE","data":{}}})");
    BriselClassificationResponseData predictions;
    predictions.message.emplace("label", common::AnyEncodable(std::string("walk")));
    predictions.message.emplace("scores", common::AnyEncodable(std::vector<float>{0.1F, 0.9F}));
    EXPECT_EQ(textOf(featureReply(BriselClassificationResponse{
                  .status = BriselClassificationResponseStatus::ecDone, .data = predictions})),
              R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"classify",)"
              R"("status":"EC_DONE","data":{"message":{"label":"walk","scores":[0.1,0.9]}}}})");
    EXPECT_EQ(textOf(featureReply(BriselClassificationWifiResponse{
                  .status = BriselClassificationWifiResponseStatus::error,
                  .data = BriselClassificationWifiResponseError{"No board"}})),
              R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"classify_wifi",)"
              R"("status":"ERROR","data":{"message":"No board"}}})");
}

TEST(FeatureRepliesTest, NonFiniteNumbersOrInvalidTextGiveNoText) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    BriselDataCollectionResponse withNan{.status = BriselDataCollectionResponseStatus::data,
                                         .data = {.projectID = 1, .eventRange = {1.0F, nan}}};
    auto failed = encodeReply(featureReply(withNan));
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().path, "data.data.event_range[1]");

    BriselDataCollectionResponse withInfinity{
        .status = BriselDataCollectionResponseStatus::data,
        .data = {.projectID = 1, .duration = std::numeric_limits<double>::infinity()}};
    EXPECT_FALSE(encodeReply(featureReply(withInfinity)));

    BriselClassificationResponseData predictions;
    predictions.message.emplace("score", common::AnyEncodable(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(encodeReply(featureReply(BriselClassificationResponse{.data = predictions})));

    EXPECT_FALSE(encodeReply(featureReply(BriselLatencyResponse{.data = {.message = "bad \xfe byte"}})));
    EXPECT_FALSE(encodeReply(featureReply(BriselStringResponse{.data = {{"\xc3", "x"}}})));
}

}  // namespace
}  // namespace brisel::frame
