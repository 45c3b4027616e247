#include "frame/route_decoding.h"

#include <gtest/gtest.h>

#include <string>

#include "frame/controller_registry.h"
#include "frame/request_fixtures.h"

namespace brisel::frame {
namespace {

using namespace fixtures;

// The request type chosen for `text`, by name, or the error.
std::string chosen(std::string_view text) {
    auto request = decodeAndChoose(text);
    if (!request) {
        return request.error() == RouteDecodingError::noBytes ? "noBytes" : "unknownType";
    }
    return std::string(requestTypeName(*request));
}

// `text` (an object) with `member` ("\"key\":value") added at its end.
std::string plus(std::string_view text, std::string_view member) {
    std::string result(text);
    result.insert(result.size() - 1, "," + std::string(member));
    return result;
}

TEST(RouteDecodingTest, EachCompleteTextIsItsOwnType) {
    EXPECT_EQ(chosen(kVersionInformation), "VersionInformation");
    EXPECT_EQ(chosen(kFlashRequest), "FlashRequest");
    EXPECT_EQ(chosen(kFlashWifiRequest), "FlashWifiRequest");
    EXPECT_EQ(chosen(kStartDataCollectionRequest), "StartDataCollectionRequest");
    EXPECT_EQ(chosen(kSaveDataCollectionBluetoothRequest), "SaveDataCollectionBluetoothRequest");
    EXPECT_EQ(chosen(kLiveClassificationStartRequest), "LiveClassificationStartRequest");
    EXPECT_EQ(chosen(kLiveClassificationStopRequest), "LiveClassificationStopRequest");
    EXPECT_EQ(chosen(kLiveClassificationWifiStartRequest), "LiveClassificationWifiStartRequest");
    EXPECT_EQ(chosen(kMeasureLatencyRequest), "MeasureLatencyRequest");
    EXPECT_EQ(chosen(kMeasureLatencyWifiRequest), "MeasureLatencyWifiRequest");
    EXPECT_EQ(chosen(kCheckDependenciesRequest), "CheckDependenciesRequest");
    EXPECT_EQ(chosen(kCheckDeviceConnectionRequest), "CheckDeviceConnectionRequest");
    EXPECT_EQ(chosen(kContaminationThresholdRequest), "ContaminationThresholdRequest");
    EXPECT_EQ(chosen(kCollectionSyncRequest), "CollectionSyncRequest");
}

TEST(RouteDecodingTest, TheLaterTableEntryWinsWhenSeveralDecode) {
    EXPECT_EQ(chosen(plus(kFlashRequest, R"("buildNumber":3)")), "FlashRequest");
    EXPECT_EQ(chosen(plus(kCheckDependenciesRequest, R"("buildNumber":0)")), "CheckDependenciesRequest");
    EXPECT_EQ(chosen(plus(kFlashRequest, R"("flashWifiRequest":false)")), "FlashWifiRequest");
    EXPECT_EQ(chosen(plus(kMeasureLatencyRequest, R"("measure_latency_wifi":true)")),
              "MeasureLatencyWifiRequest");
    EXPECT_EQ(chosen(plus(kLiveClassificationStartRequest, R"("liveClassificationStopRequest":true)")),
              "LiveClassificationStopRequest");
}

TEST(RouteDecodingTest, AnIncompleteLaterTypeLeavesTheEarlierOne) {
    EXPECT_EQ(chosen(R"({"buildNumber":7,"flashRequest":true,"command":"flash"})"), "VersionInformation");
    EXPECT_EQ(chosen(plus(kFlashRequest, R"("measure_latency":true)")), "FlashRequest");
    EXPECT_EQ(chosen(plus(kMeasureLatencyRequest, R"("measure_latency_wifi":"true")")),
              "MeasureLatencyRequest");
}

TEST(RouteDecodingTest, WifiConfigurationIsNotRouted) {
    EXPECT_EQ(chosen(kFlashWifiConfigRequest), "unknownType");
    // It holds every required key of a flash request, so the message key alone makes one.
    EXPECT_EQ(chosen(plus(kFlashWifiConfigRequest, R"("flashRequest":true)")), "FlashRequest");
}

TEST(RouteDecodingTest, HandshakeNeedsANonNegativeWholeBuildNumber) {
    EXPECT_EQ(chosen(R"({"buildNumber":0})"), "VersionInformation");
    EXPECT_EQ(chosen(R"({"buildNumber":18446744073709551615,"other":1})"), "VersionInformation");
    EXPECT_EQ(chosen(R"({"buildNumber":-1})"), "unknownType");
    EXPECT_EQ(chosen(R"({"buildNumber":1.5})"), "unknownType");
    EXPECT_EQ(chosen(R"({"buildNumber":18446744073709551616})"), "unknownType");
    EXPECT_EQ(chosen(R"({"buildNumber":1e400})"), "unknownType");
}

TEST(RouteDecodingTest, TextsThatAreNoRequestObjectAreUnknown) {
    for (const char* text :
         {"", " ", "[]", "[{\"liveClassificationStopRequest\":true}]", "\"flashRequest\"", "12", "true",
          "null", "{}", "not json", "{\"liveClassificationStopRequest\":true",
          "{\"liveClassificationStopRequest\":\"true\"}", "{\"LiveClassificationStopRequest\":true}",
          "{\"liveClassificationStopRequest\":true} trailing"}) {
        EXPECT_EQ(chosen(text), "unknownType") << text;
    }
}

TEST(RouteDecodingTest, TextThatIsNotUtf8GivesNoBytes) {
    EXPECT_EQ(chosen("{\"liveClassificationStopRequest\":true,\"x\":\"\xff\"}"), "noBytes");
    EXPECT_EQ(chosen(std::string_view("{\"a\":\"\xc0\x80\"}")), "noBytes");
    EXPECT_EQ(chosen(std::string_view("{\"liveClassificationStopRequest\":true,\"x\":\"\\u0000\"}")),
              "LiveClassificationStopRequest");
}

TEST(RouteDecodingTest, TheChosenRequestCarriesTheDecodedValues) {
    auto request = decodeAndChoose(kSaveDataCollectionBluetoothRequest);
    ASSERT_TRUE(request);
    const auto* bytes = std::get_if<SaveDataCollectionBluetoothRequest>(&*request);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes->data, (std::vector<std::uint8_t>{0, 1, 127, 128, 255}));
}

}  // namespace
}  // namespace brisel::frame
