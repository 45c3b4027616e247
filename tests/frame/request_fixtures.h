// Complete request texts, one per request type, written by hand from the message tables, with the
// form of every key: the table-driven tests delete, null and spoil each key in turn.
#pragma once

#include <string_view>
#include <vector>

namespace brisel::frame::fixtures {

enum class Presence { required, optional };

// A value of the wrong JSON form for a key's field type.
namespace wrong {
inline constexpr std::string_view boolean = R"("true")";
inline constexpr std::string_view text = "5";
inline constexpr std::string_view integer = "1.5";
inline constexpr std::string_view real = R"("0.5")";
inline constexpr std::string_view bytes = "[1,256]";
inline constexpr std::string_view boardKind = R"("nano_33_ble")";
inline constexpr std::string_view sensorList = R"([{"enabled":true}])";
inline constexpr std::string_view collectionKind = R"("training")";
inline constexpr std::string_view linkKind = R"("Wifi")";
}  // namespace wrong

struct KeyForm {
    std::string_view key;
    Presence presence;
    std::string_view wrongValue;
};

inline constexpr std::string_view kVersionInformation = R"({"buildNumber":10240000008025})";

inline constexpr std::string_view kFlashRequest =
    R"({"flashRequest":true,"command":"flash","host":"localhost","auth_token":"tok","model_kind":"RANDOM_FOREST",)"
    R"("port":"8000","run_id":17,"project_id":4,"libname":"lib-rf.bin","scheme":"http","skip_flash":false})";

inline constexpr std::string_view kFlashWifiRequest =
    R"({"flashWifiRequest":true,"command":"flash","host":"localhost","auth_token":"tok","model_kind":"ANN",)"
    R"("port":"8000","run_id":18,"project_id":4,"libname":"lib-ann.bin","scheme":"https","skip_flash":true})";

inline constexpr std::string_view kStartDataCollectionRequest =
    R"({"startDataCollection":true,"command":"collect","project_id":4,"host":"127.0.0.1","auth_token":"tok",)"
    R"("port":"443","kind":"VALIDATION","num_instances":3,"label":"walk","dataset_name":"set 1",)"
    R"("sensor_config":[{"enabled":true,"kind":"accel","full_scale_range":4,"sampling_rate":100},)"
    R"({"enabled":false,"kind":"magno","sampling_rate":12.5}],"scheme":"https","data_collection_type":"WIFI"})";

inline constexpr std::string_view kSaveDataCollectionBluetoothRequest =
    R"({"saveDataCollectionBluetooth":true,"data":[0,1,127,128,255]})";

inline constexpr std::string_view kLiveClassificationStartRequest =
    R"({"liveClassificationStartRequest":true,"command":"classify","host":"localhost","auth_token":"tok",)"
    R"("port":"8000","run_id":17,"model_id":9,"threshold_value":0.7,"latency_exists":true,"scheme":"http"})";

inline constexpr std::string_view kLiveClassificationStopRequest =
    R"({"liveClassificationStopRequest":false})";

inline constexpr std::string_view kLiveClassificationWifiStartRequest =
    R"({"liveClassificationWifiStartRequest":true,"command":"classify","host":"localhost","auth_token":"tok",)"
    R"("port":"8000","run_id":17,"scheme":"http"})";

inline constexpr std::string_view kMeasureLatencyRequest =
    R"({"measure_latency":true,"command":"latency","host":"localhost","auth_token":"tok","port":"8000",)"
    R"("run_id":17,"model_id":9,"scheme":"http"})";

inline constexpr std::string_view kMeasureLatencyWifiRequest =
    R"({"measure_latency_wifi":true,"command":"latency","host":"localhost","auth_token":"tok","port":"8000",)"
    R"("run_id":17,"scheme":"http"})";

inline constexpr std::string_view kCheckDependenciesRequest =
    R"({"checkDependencies":true,"command":"deps"})";

inline constexpr std::string_view kCheckDeviceConnectionRequest =
    R"({"checkDeviceConnection":true,"command":"check","deviceKind":"NANO_33_BLE_REV2"})";

inline constexpr std::string_view kContaminationThresholdRequest =
    R"({"contaminationThresholdRequest":true,"host":"localhost","auth_token":"tok","port":"8000",)"
    R"("run_id":17,"model_id":9})";

inline constexpr std::string_view kCollectionSyncRequest =
    R"({"collectionSyncRequest":true,"host":"localhost","auth_token":"tok","port":"8000","collection_id":31,)"
    R"("project_id":4,"deviceKind":"QORVO_SAMD51"})";

inline constexpr std::string_view kFlashWifiConfigRequest =
    R"({"flashWifiConfigRequest":true,"command":"config","host":"localhost","auth_token":"tok","port":"8000",)"
    R"("run_id":17,"libname":"cfg.bin","scheme":"http","config":"ssid=x"})";

using enum Presence;

inline const std::vector<KeyForm> kVersionInformationKeys{{"buildNumber", required, "-1"}};

inline std::vector<KeyForm> flashKeys(std::string_view messageKey) {
    return {{messageKey, required, wrong::boolean},  {"command", required, wrong::text},
            {"host", required, wrong::text},         {"auth_token", required, wrong::text},
            {"model_kind", optional, wrong::text},   {"port", required, wrong::text},
            {"run_id", required, wrong::integer},    {"project_id", optional, wrong::integer},
            {"libname", required, wrong::text},      {"scheme", required, wrong::text},
            {"skip_flash", optional, wrong::boolean}};
}

inline const std::vector<KeyForm> kStartDataCollectionKeys{
    {"startDataCollection", required, wrong::boolean},
    {"command", required, wrong::text},
    {"project_id", required, wrong::integer},
    {"host", required, wrong::text},
    {"auth_token", required, wrong::text},
    {"port", required, wrong::text},
    {"kind", required, wrong::collectionKind},
    {"num_instances", required, wrong::integer},
    {"label", required, wrong::text},
    {"dataset_name", required, wrong::text},
    {"sensor_config", required, wrong::sensorList},
    {"scheme", required, wrong::text},
    {"data_collection_type", required, wrong::linkKind}};

inline const std::vector<KeyForm> kSaveDataCollectionBluetoothKeys{
    {"saveDataCollectionBluetooth", required, wrong::boolean}, {"data", required, wrong::bytes}};

inline const std::vector<KeyForm> kLiveClassificationStartKeys{
    {"liveClassificationStartRequest", required, wrong::boolean},
    {"command", required, wrong::text},
    {"host", required, wrong::text},
    {"auth_token", required, wrong::text},
    {"port", required, wrong::text},
    {"run_id", required, wrong::integer},
    {"model_id", required, wrong::integer},
    {"threshold_value", optional, wrong::real},
    {"latency_exists", required, wrong::boolean},
    {"scheme", required, wrong::text}};

inline const std::vector<KeyForm> kLiveClassificationStopKeys{
    {"liveClassificationStopRequest", required, wrong::boolean}};

inline const std::vector<KeyForm> kLiveClassificationWifiStartKeys{
    {"liveClassificationWifiStartRequest", required, wrong::boolean},
    {"command", required, wrong::text},
    {"host", required, wrong::text},
    {"auth_token", required, wrong::text},
    {"port", required, wrong::text},
    {"run_id", required, wrong::integer},
    {"scheme", required, wrong::text}};

inline const std::vector<KeyForm> kMeasureLatencyKeys{{"measure_latency", required, wrong::boolean},
                                                      {"command", required, wrong::text},
                                                      {"host", required, wrong::text},
                                                      {"auth_token", required, wrong::text},
                                                      {"port", required, wrong::text},
                                                      {"run_id", required, wrong::integer},
                                                      {"model_id", required, wrong::integer},
                                                      {"scheme", required, wrong::text}};

inline const std::vector<KeyForm> kMeasureLatencyWifiKeys{{"measure_latency_wifi", required, wrong::boolean},
                                                          {"command", required, wrong::text},
                                                          {"host", required, wrong::text},
                                                          {"auth_token", required, wrong::text},
                                                          {"port", required, wrong::text},
                                                          {"run_id", required, wrong::integer},
                                                          {"scheme", required, wrong::text}};

inline const std::vector<KeyForm> kCheckDependenciesKeys{{"checkDependencies", required, wrong::boolean},
                                                         {"command", required, wrong::text}};

inline const std::vector<KeyForm> kCheckDeviceConnectionKeys{
    {"checkDeviceConnection", required, wrong::boolean},
    {"command", required, wrong::text},
    {"deviceKind", required, wrong::boardKind}};

inline const std::vector<KeyForm> kContaminationThresholdKeys{
    {"contaminationThresholdRequest", required, wrong::boolean},
    {"host", required, wrong::text},
    {"auth_token", required, wrong::text},
    {"port", required, wrong::text},
    {"run_id", required, wrong::integer},
    {"model_id", required, wrong::integer}};

inline const std::vector<KeyForm> kCollectionSyncKeys{{"collectionSyncRequest", required, wrong::boolean},
                                                      {"host", required, wrong::text},
                                                      {"auth_token", required, wrong::text},
                                                      {"port", required, wrong::text},
                                                      {"collection_id", required, wrong::integer},
                                                      {"project_id", required, wrong::integer},
                                                      {"deviceKind", required, wrong::boardKind}};

inline const std::vector<KeyForm> kFlashWifiConfigKeys{{"flashWifiConfigRequest", required, wrong::boolean},
                                                       {"command", required, wrong::text},
                                                       {"host", required, wrong::text},
                                                       {"auth_token", required, wrong::text},
                                                       {"port", required, wrong::text},
                                                       {"run_id", required, wrong::integer},
                                                       {"libname", required, wrong::text},
                                                       {"scheme", required, wrong::text},
                                                       {"config", required, wrong::text}};

}  // namespace brisel::frame::fixtures
