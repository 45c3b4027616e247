// The build record of the cloud: one training run of a project, as the build endpoint returns it.
//
// Every record is a plain value decoded strictly by the codec of common/json_codec.h from its
// field-descriptor table (the `jsonFields` functions below; the table order is the JSON key order for
// decoding and encoding). Integers are signed 64-bit, float32 fields are `float`, float64 fields
// `double`; `std::optional` members are the optional keys. Only `BuildResponse.status` (`BuildStatus`)
// and `Model.kind` (`common::ModelKind`) are held to fixed sets of strings; every other kind, status,
// state or type is a free string. Decoding any record is pure and may run on any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "common/enum_raw_values.h"
#include "common/json_codec.h"
#include "common/model_kind.h"

namespace brisel::cloud {

// The state of a build.
enum class BuildStatus { DONE, SUCCESS, CANCELLED, FAILED, ACTIVE, PENDING, ERROR };

inline constexpr std::array<common::EnumRawValue<BuildStatus>, 7> kBuildStatusRawValues{{
    {BuildStatus::DONE, "DONE"},
    {BuildStatus::SUCCESS, "SUCCESS"},
    {BuildStatus::CANCELLED, "CANCELLED"},
    {BuildStatus::FAILED, "FAILED"},
    {BuildStatus::ACTIVE, "ACTIVE"},
    {BuildStatus::PENDING, "PENDING"},
    {BuildStatus::ERROR, "ERROR"},
}};

constexpr const auto& enumRawValues(std::type_identity<BuildStatus>) {
    return kBuildStatusRawValues;
}

// A parameter value whose content nobody reads. Decoding accepts any JSON value but null (object,
// array, string, number, boolean) and keeps nothing of it; encoding writes {}.
struct AdditionalProp1 {
    friend bool operator==(const AdditionalProp1&, const AdditionalProp1&) = default;
};

// Codec hooks for `AdditionalProp1`, found by argument-dependent lookup.
common::JsonStatus decodeValue(const common::Json& json, AdditionalProp1& out);
common::Json toJsonValue(const AdditionalProp1& value);

// The parameters of a build ("project_config") or of a model ("model_parameters"): a JSON object whose
// only read key is "additionalProp1".
struct ProjectConfig {
    std::optional<AdditionalProp1> additionalProp1;
    friend bool operator==(const ProjectConfig&, const ProjectConfig&) = default;
};

struct Instance {
    std::int64_t collectionID = 0;
    std::int64_t id = 0;
    friend bool operator==(const Instance&, const Instance&) = default;
};

struct Sensor {
    std::int64_t collectionID = 0;
    bool enabled = false;
    std::optional<double> fullScaleRange;
    std::int64_t id = 0;
    std::string kind;
    double samplingRate = 0;
    friend bool operator==(const Sensor&, const Sensor&) = default;
};

struct DataCollection {
    std::string label;
    std::string createdAt;
    std::int64_t id = 0;
    std::vector<Instance> instances;
    std::string kind;
    std::string name;
    std::optional<std::string> note;
    std::int64_t numInstances = 0;
    std::int64_t projectID = 0;
    bool ready = false;
    std::vector<Sensor> sensors;
    std::optional<std::string> uploadFileName;
    friend bool operator==(const DataCollection&, const DataCollection&) = default;
};

struct FeatureGroup {
    std::optional<std::string> featureKind;
    std::int64_t id = 0;
    std::int64_t runID = 0;
    std::string sensorKind;
    friend bool operator==(const FeatureGroup&, const FeatureGroup&) = default;
};

struct Class {
    std::int64_t id = 0;
    std::string kind;
    std::string label;
    std::int64_t projectID = 0;
    friend bool operator==(const Class&, const Class&) = default;
};

struct Group {
    std::int64_t buildID = 0;
    std::vector<Class> classes;
    std::int64_t id = 0;
    std::optional<std::string> name;
    friend bool operator==(const Group&, const Group&) = default;
};

struct MlcFeature {
    std::string axis;
    std::string feature;
    std::optional<std::int64_t> filterID;
    std::int64_t id = 0;
    std::string name;
    std::optional<float> param;
    std::int64_t projectID = 0;
    std::string sensorKind;
    friend bool operator==(const MlcFeature&, const MlcFeature&) = default;
};

struct Axe {
    std::string axis;
    std::int64_t filterID = 0;
    std::int64_t id = 0;
    friend bool operator==(const Axe&, const Axe&) = default;
};

struct Coefficient {
    std::string coefficient;
    std::int64_t filterID = 0;
    std::int64_t id = 0;
    float value = 0;
    friend bool operator==(const Coefficient&, const Coefficient&) = default;
};

struct MlcFilter {
    std::vector<Axe> axes;
    std::vector<Coefficient> coefficients;
    std::string filterType;
    std::int64_t id = 0;
    std::string name;
    std::int64_t projectID = 0;
    std::string sensorKind;
    friend bool operator==(const MlcFilter&, const MlcFilter&) = default;
};

struct ModelPrediction {
    std::int64_t classgroupID = 0;
    std::int64_t eventLength = 0;
    std::int64_t id = 0;
    std::int64_t modelID = 0;
    // Rows may differ in length.
    std::vector<std::vector<float>> prediction;
    std::int64_t recordedAmount = 0;
    std::string savedAt;
    friend bool operator==(const ModelPrediction&, const ModelPrediction&) = default;
};

// One stored result file of a run; `key` names the file.
struct ModelResult {
    std::int64_t id = 0;
    std::string key;
    std::int64_t runID = 0;
    friend bool operator==(const ModelResult&, const ModelResult&) = default;
};

struct Stage {
    std::optional<std::string> endTime;
    std::optional<std::string> exception;
    std::int64_t id = 0;
    std::string name;
    std::optional<std::int64_t> parentStageID;
    std::int64_t runID = 0;
    std::string startTime;
    std::string state;
    friend bool operator==(const Stage&, const Stage&) = default;
};

struct SensorSelection {
    std::int64_t buildID = 0;
    std::int64_t id = 0;
    std::optional<std::int64_t> channel;
    std::string kind;
    friend bool operator==(const SensorSelection&, const SensorSelection&) = default;
};

struct ModelClassificationAnalysis {
    std::optional<std::int64_t> cancelUserID;
    std::vector<DataCollection> collections;
    std::string createDatetime;
    bool deleted = false;
    std::int64_t dispatchUserID = 0;
    std::optional<std::string> endDatetime;
    std::int64_t errorCode = 0;
    std::string errorDescription;
    bool exceptionOccurred = false;
    std::int64_t id = 0;
    std::string kind;
    bool latencyError = false;
    std::int64_t latencyStatus = 0;
    std::vector<MlcFeature> mlcFeatures;
    std::vector<MlcFilter> mlcFilters;
    std::int64_t modelID = 0;
    std::vector<ModelPrediction> modelPredictions;
    std::int64_t projectID = 0;
    std::vector<ModelResult> results;
    std::vector<Stage> stages;
    std::optional<std::string> startDatetime;
    std::string status;
    std::vector<DataCollection> testCollections;
    friend bool operator==(const ModelClassificationAnalysis&, const ModelClassificationAnalysis&) = default;
};

// One trained model of a build.
struct Model {
    std::int64_t buildID = 0;
    std::optional<std::int64_t> classgroupID;
    std::optional<double> contaminationThreshold;
    std::int64_t id = 0;
    common::ModelKind kind = common::ModelKind::ANN;
    std::optional<double> latency;
    std::vector<ModelClassificationAnalysis> modelClassificationAnalysis;
    std::optional<ProjectConfig> modelParameters;
    std::vector<ModelPrediction> modelPredictions;
    std::optional<double> recommendedThreshold;
    std::optional<float> size;
    std::string status;
    friend bool operator==(const Model&, const Model&) = default;
};

// The root of the build tree. The workflows read `id`, `status`, `models` (their `id` and `kind`) and
// `results` (their `key`); every other field is decoded and checked only.
struct BuildResponse {
    bool autoEngineSetting = false;
    std::optional<std::int64_t> cancelUserID;
    std::int64_t classificationInterval = 0;
    std::vector<DataCollection> collections;
    std::string createDatetime;
    bool deleted = false;
    std::int64_t dispatchUserID = 0;
    std::optional<std::string> endDatetime;
    std::int64_t errorCode = 0;
    std::string errorDescription;
    bool exceptionOccurred = false;
    std::vector<FeatureGroup> featureGroup;
    bool featureOptimization = false;
    bool generateLearningCurves = false;
    std::vector<Group> groups;
    bool hyperparameterOptimization = false;
    std::int64_t id = 0;
    std::optional<std::int64_t> instanceLength;
    std::string kind;
    bool latencyError = false;
    std::int64_t latencyStatus = 0;
    bool mlc = false;
    std::vector<MlcFeature> mlcFeatures;
    std::vector<MlcFilter> mlcFilters;
    std::vector<Model> models;
    std::int64_t numPredictionSamples = 0;
    std::int64_t oneClassNFeatures = 0;
    std::int64_t optimizerNumOfTrials = 0;
    float optimizerErrorThreshold = 0;
    float optimizerTimeLimit = 0;
    std::optional<ProjectConfig> projectConfig;
    std::int64_t projectID = 0;
    std::optional<std::string> regularizer;
    std::optional<double> regularizerWeight;
    std::vector<ModelResult> results;
    bool sensorAndFeatureOptimization = false;
    std::vector<SensorSelection> sensorSelection;
    std::vector<Stage> stages;
    std::optional<std::string> startDatetime;
    BuildStatus status = BuildStatus::PENDING;
    std::vector<DataCollection> testCollections;
    friend bool operator==(const BuildResponse&, const BuildResponse&) = default;
};

// ---------------------------------------------------------------------------------------------------
// Field-descriptor tables, in JSON key order.

constexpr auto jsonFields(std::type_identity<ProjectConfig>) {
    using common::jsonField;
    return std::tuple{jsonField("additionalProp1", &ProjectConfig::additionalProp1)};
}

constexpr auto jsonFields(std::type_identity<Instance>) {
    using common::jsonField;
    return std::tuple{jsonField("collection_id", &Instance::collectionID), jsonField("id", &Instance::id)};
}

constexpr auto jsonFields(std::type_identity<Sensor>) {
    using common::jsonField;
    return std::tuple{jsonField("collection_id", &Sensor::collectionID),
                      jsonField("enabled", &Sensor::enabled),
                      jsonField("full_scale_range", &Sensor::fullScaleRange),
                      jsonField("id", &Sensor::id),
                      jsonField("kind", &Sensor::kind),
                      jsonField("sampling_rate", &Sensor::samplingRate)};
}

constexpr auto jsonFields(std::type_identity<DataCollection>) {
    using common::jsonField;
    return std::tuple{jsonField("label", &DataCollection::label),
                      jsonField("created_at", &DataCollection::createdAt),
                      jsonField("id", &DataCollection::id),
                      jsonField("instances", &DataCollection::instances),
                      jsonField("kind", &DataCollection::kind),
                      jsonField("name", &DataCollection::name),
                      jsonField("note", &DataCollection::note),
                      jsonField("num_instances", &DataCollection::numInstances),
                      jsonField("project_id", &DataCollection::projectID),
                      jsonField("ready", &DataCollection::ready),
                      jsonField("sensors", &DataCollection::sensors),
                      jsonField("upload_file_name", &DataCollection::uploadFileName)};
}

constexpr auto jsonFields(std::type_identity<FeatureGroup>) {
    using common::jsonField;
    return std::tuple{jsonField("feature_kind", &FeatureGroup::featureKind),
                      jsonField("id", &FeatureGroup::id), jsonField("run_id", &FeatureGroup::runID),
                      jsonField("sensor_kind", &FeatureGroup::sensorKind)};
}

constexpr auto jsonFields(std::type_identity<Class>) {
    using common::jsonField;
    return std::tuple{jsonField("id", &Class::id), jsonField("kind", &Class::kind),
                      jsonField("label", &Class::label), jsonField("project_id", &Class::projectID)};
}

constexpr auto jsonFields(std::type_identity<Group>) {
    using common::jsonField;
    return std::tuple{jsonField("build_id", &Group::buildID), jsonField("classes", &Group::classes),
                      jsonField("id", &Group::id), jsonField("name", &Group::name)};
}

constexpr auto jsonFields(std::type_identity<MlcFeature>) {
    using common::jsonField;
    return std::tuple{jsonField("axis", &MlcFeature::axis),
                      jsonField("feature", &MlcFeature::feature),
                      jsonField("filter_id", &MlcFeature::filterID),
                      jsonField("id", &MlcFeature::id),
                      jsonField("name", &MlcFeature::name),
                      jsonField("param", &MlcFeature::param),
                      jsonField("project_id", &MlcFeature::projectID),
                      jsonField("sensor_kind", &MlcFeature::sensorKind)};
}

constexpr auto jsonFields(std::type_identity<Axe>) {
    using common::jsonField;
    return std::tuple{jsonField("axis", &Axe::axis), jsonField("filter_id", &Axe::filterID),
                      jsonField("id", &Axe::id)};
}

constexpr auto jsonFields(std::type_identity<Coefficient>) {
    using common::jsonField;
    return std::tuple{jsonField("coefficient", &Coefficient::coefficient),
                      jsonField("filter_id", &Coefficient::filterID), jsonField("id", &Coefficient::id),
                      jsonField("value", &Coefficient::value)};
}

constexpr auto jsonFields(std::type_identity<MlcFilter>) {
    using common::jsonField;
    return std::tuple{jsonField("axes", &MlcFilter::axes),
                      jsonField("coefficients", &MlcFilter::coefficients),
                      jsonField("filter_type", &MlcFilter::filterType),
                      jsonField("id", &MlcFilter::id),
                      jsonField("name", &MlcFilter::name),
                      jsonField("project_id", &MlcFilter::projectID),
                      jsonField("sensor_kind", &MlcFilter::sensorKind)};
}

constexpr auto jsonFields(std::type_identity<ModelPrediction>) {
    using common::jsonField;
    return std::tuple{jsonField("classgroup_id", &ModelPrediction::classgroupID),
                      jsonField("event_length", &ModelPrediction::eventLength),
                      jsonField("id", &ModelPrediction::id),
                      jsonField("model_id", &ModelPrediction::modelID),
                      jsonField("prediction", &ModelPrediction::prediction),
                      jsonField("recorded_amount", &ModelPrediction::recordedAmount),
                      jsonField("saved_at", &ModelPrediction::savedAt)};
}

constexpr auto jsonFields(std::type_identity<ModelResult>) {
    using common::jsonField;
    return std::tuple{jsonField("id", &ModelResult::id), jsonField("key", &ModelResult::key),
                      jsonField("run_id", &ModelResult::runID)};
}

constexpr auto jsonFields(std::type_identity<Stage>) {
    using common::jsonField;
    return std::tuple{jsonField("end_time", &Stage::endTime),
                      jsonField("exception", &Stage::exception),
                      jsonField("id", &Stage::id),
                      jsonField("name", &Stage::name),
                      jsonField("parent_stage_id", &Stage::parentStageID),
                      jsonField("run_id", &Stage::runID),
                      jsonField("start_time", &Stage::startTime),
                      jsonField("state", &Stage::state)};
}

constexpr auto jsonFields(std::type_identity<SensorSelection>) {
    using common::jsonField;
    return std::tuple{jsonField("build_id", &SensorSelection::buildID),
                      jsonField("channel", &SensorSelection::channel), jsonField("id", &SensorSelection::id),
                      jsonField("kind", &SensorSelection::kind)};
}

constexpr auto jsonFields(std::type_identity<ModelClassificationAnalysis>) {
    using common::jsonField;
    using Record = ModelClassificationAnalysis;
    return std::tuple{jsonField("cancel_user_id", &Record::cancelUserID),
                      jsonField("collections", &Record::collections),
                      jsonField("create_datetime", &Record::createDatetime),
                      jsonField("deleted", &Record::deleted),
                      jsonField("dispatch_user_id", &Record::dispatchUserID),
                      jsonField("end_datetime", &Record::endDatetime),
                      jsonField("error_code", &Record::errorCode),
                      jsonField("error_description", &Record::errorDescription),
                      jsonField("exception_occurred", &Record::exceptionOccurred),
                      jsonField("id", &Record::id),
                      jsonField("kind", &Record::kind),
                      jsonField("latency_error", &Record::latencyError),
                      jsonField("latency_status", &Record::latencyStatus),
                      jsonField("mlc_features", &Record::mlcFeatures),
                      jsonField("mlc_filters", &Record::mlcFilters),
                      jsonField("model_id", &Record::modelID),
                      jsonField("model_predictions", &Record::modelPredictions),
                      jsonField("project_id", &Record::projectID),
                      jsonField("results", &Record::results),
                      jsonField("stages", &Record::stages),
                      jsonField("start_datetime", &Record::startDatetime),
                      jsonField("status", &Record::status),
                      jsonField("test_collections", &Record::testCollections)};
}

constexpr auto jsonFields(std::type_identity<Model>) {
    using common::jsonField;
    return std::tuple{jsonField("build_id", &Model::buildID),
                      jsonField("classgroup_id", &Model::classgroupID),
                      jsonField("contamination_threshold", &Model::contaminationThreshold),
                      jsonField("id", &Model::id),
                      jsonField("kind", &Model::kind),
                      jsonField("latency", &Model::latency),
                      jsonField("model_classification_analysis", &Model::modelClassificationAnalysis),
                      jsonField("model_parameters", &Model::modelParameters),
                      jsonField("model_predictions", &Model::modelPredictions),
                      jsonField("recommended_threshold", &Model::recommendedThreshold),
                      jsonField("size", &Model::size),
                      jsonField("status", &Model::status)};
}

constexpr auto jsonFields(std::type_identity<BuildResponse>) {
    using common::jsonField;
    using Record = BuildResponse;
    return std::tuple{jsonField("auto_engine_setting", &Record::autoEngineSetting),
                      jsonField("cancel_user_id", &Record::cancelUserID),
                      jsonField("classification_interval", &Record::classificationInterval),
                      jsonField("collections", &Record::collections),
                      jsonField("create_datetime", &Record::createDatetime),
                      jsonField("deleted", &Record::deleted),
                      jsonField("dispatch_user_id", &Record::dispatchUserID),
                      jsonField("end_datetime", &Record::endDatetime),
                      jsonField("error_code", &Record::errorCode),
                      jsonField("error_description", &Record::errorDescription),
                      jsonField("exception_occurred", &Record::exceptionOccurred),
                      jsonField("feature_group", &Record::featureGroup),
                      jsonField("feature_optimization", &Record::featureOptimization),
                      jsonField("generate_learning_curves", &Record::generateLearningCurves),
                      jsonField("groups", &Record::groups),
                      jsonField("hyperparameter_optimization", &Record::hyperparameterOptimization),
                      jsonField("id", &Record::id),
                      jsonField("instance_length", &Record::instanceLength),
                      jsonField("kind", &Record::kind),
                      jsonField("latency_error", &Record::latencyError),
                      jsonField("latency_status", &Record::latencyStatus),
                      jsonField("mlc", &Record::mlc),
                      jsonField("mlc_features", &Record::mlcFeatures),
                      jsonField("mlc_filters", &Record::mlcFilters),
                      jsonField("models", &Record::models),
                      jsonField("num_prediction_samples", &Record::numPredictionSamples),
                      jsonField("one_class_n_features", &Record::oneClassNFeatures),
                      jsonField("optimizer_error_threshold", &Record::optimizerErrorThreshold),
                      jsonField("optimizer_num_of_trials", &Record::optimizerNumOfTrials),
                      jsonField("optimizer_time_limit", &Record::optimizerTimeLimit),
                      jsonField("project_config", &Record::projectConfig),
                      jsonField("project_id", &Record::projectID),
                      jsonField("regularizer", &Record::regularizer),
                      jsonField("regularizer_weight", &Record::regularizerWeight),
                      jsonField("results", &Record::results),
                      jsonField("sensor_and_feature_optimization", &Record::sensorAndFeatureOptimization),
                      jsonField("sensor_selection", &Record::sensorSelection),
                      jsonField("stages", &Record::stages),
                      jsonField("start_datetime", &Record::startDatetime),
                      jsonField("status", &Record::status),
                      jsonField("test_collections", &Record::testCollections)};
}

}  // namespace brisel::cloud
