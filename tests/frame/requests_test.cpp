#include "frame/requests.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "frame/request_fixtures.h"

namespace brisel::frame {
namespace {

using common::CollectionKindResponse;
using common::DataCollectionType;
using common::DeviceKind;
using common::Json;
using common::SensorKind;
using namespace fixtures;

struct RequestForm {
    std::string name;
    std::string_view completeText;
    std::vector<KeyForm> keys;
    std::function<bool(std::string_view)> decodes;
    std::function<bool(std::string_view)> survivesEncoding;  // decode, encode, decode gives the same record
};

template <class Request>
RequestForm form(std::string name, std::string_view text, std::vector<KeyForm> keys) {
    return RequestForm{
        std::move(name), text, std::move(keys),
        [](std::string_view candidate) { return common::decodeJsonText<Request>(candidate).has_value(); },
        [](std::string_view candidate) {
            auto first = common::decodeJsonText<Request>(candidate);
            auto encoded = common::encodeJsonText(*first);
            auto second = common::decodeJsonText<Request>(*encoded);
            return second && *second == *first;
        }};
}

std::vector<RequestForm> allForms() {
    return {
        form<VersionInformation>("VersionInformation", kVersionInformation, kVersionInformationKeys),
        form<FlashRequest>("FlashRequest", kFlashRequest, flashKeys("flashRequest")),
        form<FlashWifiRequest>("FlashWifiRequest", kFlashWifiRequest, flashKeys("flashWifiRequest")),
        form<StartDataCollectionRequest>("StartDataCollectionRequest", kStartDataCollectionRequest,
                                         kStartDataCollectionKeys),
        form<SaveDataCollectionBluetoothRequest>("SaveDataCollectionBluetoothRequest",
                                                 kSaveDataCollectionBluetoothRequest,
                                                 kSaveDataCollectionBluetoothKeys),
        form<LiveClassificationStartRequest>("LiveClassificationStartRequest",
                                             kLiveClassificationStartRequest, kLiveClassificationStartKeys),
        form<LiveClassificationStopRequest>("LiveClassificationStopRequest", kLiveClassificationStopRequest,
                                            kLiveClassificationStopKeys),
        form<LiveClassificationWifiStartRequest>("LiveClassificationWifiStartRequest",
                                                 kLiveClassificationWifiStartRequest,
                                                 kLiveClassificationWifiStartKeys),
        form<MeasureLatencyRequest>("MeasureLatencyRequest", kMeasureLatencyRequest, kMeasureLatencyKeys),
        form<MeasureLatencyWifiRequest>("MeasureLatencyWifiRequest", kMeasureLatencyWifiRequest,
                                        kMeasureLatencyWifiKeys),
        form<CheckDependenciesRequest>("CheckDependenciesRequest", kCheckDependenciesRequest,
                                       kCheckDependenciesKeys),
        form<CheckDeviceConnectionRequest>("CheckDeviceConnectionRequest", kCheckDeviceConnectionRequest,
                                           kCheckDeviceConnectionKeys),
        form<ContaminationThresholdRequest>("ContaminationThresholdRequest", kContaminationThresholdRequest,
                                            kContaminationThresholdKeys),
        form<CollectionSyncRequest>("CollectionSyncRequest", kCollectionSyncRequest, kCollectionSyncKeys),
        form<FlashWifiConfigRequest>("FlashWifiConfigRequest", kFlashWifiConfigRequest,
                                     kFlashWifiConfigKeys)};
}

std::string changed(std::string_view text, const std::function<void(Json&)>& change) {
    Json json = common::parseJson(text).value();
    change(json);
    return json.dump();
}

class RequestFormTest : public testing::TestWithParam<RequestForm> {};

TEST_P(RequestFormTest, CompleteTextDecodesAndSurvivesEncoding) {
    EXPECT_TRUE(GetParam().decodes(GetParam().completeText));
    EXPECT_TRUE(GetParam().survivesEncoding(GetParam().completeText));
}

TEST_P(RequestFormTest, EveryKeyIsCheckedByItsPresenceAndForm) {
    const RequestForm& request = GetParam();
    for (const KeyForm& keyForm : request.keys) {
        const std::string key(keyForm.key);
        const std::string deleted = changed(request.completeText, [&](Json& json) {
            ASSERT_EQ(json.erase(key), 1U) << "fixture lacks " << key;
        });
        const std::string nulled = changed(request.completeText, [&](Json& json) { json[key] = nullptr; });
        const std::string spoiled = changed(request.completeText, [&](Json& json) {
            json[key] = common::parseJson(keyForm.wrongValue).value();
        });
        const bool optional = keyForm.presence == Presence::optional;
        EXPECT_EQ(request.decodes(deleted), optional) << key << " deleted";
        EXPECT_EQ(request.decodes(nulled), optional) << key << " null";
        EXPECT_FALSE(request.decodes(spoiled)) << key << " = " << keyForm.wrongValue;
        if (optional) {
            EXPECT_TRUE(request.survivesEncoding(deleted)) << key << " deleted";
        }
    }
}

TEST_P(RequestFormTest, KeysMatchExactlyAndOthersAreIgnored) {
    const RequestForm& request = GetParam();
    const std::string firstKey(request.keys.front().key);
    std::string upperCased = firstKey;
    upperCased.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(upperCased.front())));
    const std::string renamed = changed(request.completeText, [&](Json& json) {
        json[upperCased] = json[firstKey];
        json.erase(firstKey);
    });
    EXPECT_FALSE(request.decodes(renamed));
    const std::string extended = changed(request.completeText, [](Json& json) {
        json["Command"] = 5;
        json["unknown"] = Json::array({nullptr, Json::object()});
    });
    EXPECT_TRUE(request.decodes(extended));
    EXPECT_FALSE(request.decodes("[" + std::string(request.completeText) + "]"));
}

std::string formName(const testing::TestParamInfo<RequestForm>& param) {
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(AllRequests, RequestFormTest, testing::ValuesIn(allForms()), formName);

TEST(RequestValuesTest, FlashRequestCarriesEveryValue) {
    auto request = common::decodeJsonText<FlashRequest>(kFlashRequest);
    ASSERT_TRUE(request);
    EXPECT_EQ(*request, (FlashRequest{true, "flash", "localhost", "tok", "8000", "RANDOM_FOREST", 17, 4,
                                      "lib-rf.bin", "http", false}));
}

TEST(RequestValuesTest, StartDataCollectionCarriesItsSensors) {
    auto request = common::decodeJsonText<StartDataCollectionRequest>(kStartDataCollectionRequest);
    ASSERT_TRUE(request) << request.error().describe();
    EXPECT_EQ(request->kind, CollectionKindResponse::VALIDATION);
    EXPECT_EQ(request->dataCollectionType, DataCollectionType::WIFI);
    EXPECT_EQ(request->sensorConfig,
              (std::vector<SensorConfig>{{true, SensorKind::ACCELEROMETER, 4.0, 100.0},
                                         {false, SensorKind::MAGNETOMETER, std::nullopt, 12.5}}));
}

TEST(RequestValuesTest, OneBadSensorFailsTheWholeRequestWithItsPath) {
    std::string text(kStartDataCollectionRequest);
    text.replace(text.find("\"magno\""), 7, "\"MAGNETOMETER\"");
    auto request = common::decodeJsonText<StartDataCollectionRequest>(text);
    ASSERT_FALSE(request);
    EXPECT_EQ(request.error().path, "sensor_config[1].kind");
}

TEST(RequestValuesTest, EmptySensorListAndEmptyByteArrayAreAccepted) {
    std::string text(kStartDataCollectionRequest);
    const auto begin = text.find('[');
    text.replace(begin, text.find("],\"scheme\"") + 1 - begin, "[]");
    auto request = common::decodeJsonText<StartDataCollectionRequest>(text);
    ASSERT_TRUE(request) << text;
    EXPECT_TRUE(request->sensorConfig.empty());
    auto bytes = common::decodeJsonText<SaveDataCollectionBluetoothRequest>(
        R"({"saveDataCollectionBluetooth":true,"data":[]})");
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(bytes->data.empty());
}

TEST(RequestValuesTest, BuildNumbersAreUnsignedSixtyFourBit) {
    const auto build = [](std::string_view number) {
        return common::decodeJsonText<VersionInformation>(R"({"buildNumber":)" + std::string(number) + "}");
    };
    EXPECT_EQ(build("0")->buildNumber, 0U);
    EXPECT_EQ(build("18446744073709551615")->buildNumber, UINT64_MAX);
    EXPECT_FALSE(build("18446744073709551616"));
    EXPECT_FALSE(build("-1"));
    EXPECT_FALSE(build("1.5"));
    EXPECT_FALSE(build("\"10240000008025\""));
    EXPECT_FALSE(build("null"));
}

}  // namespace
}  // namespace brisel::frame
