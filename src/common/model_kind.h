// The model algorithms of the cloud service and their short slugs.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <type_traits>

#include "common/enum_raw_values.h"

namespace brisel::common {

// Raw value = case name. Case order is the order of `allCases<ModelKind>()`.
enum class ModelKind {
    ANN,
    CNN,
    GBM,
    LOGISTIC_REGRESSION,
    RANDOM_FOREST,
    XGB,
    LOCAL_OUTLIER_FACTOR,
    ISOLATION_FOREST,
    RNN,
    CRNN,
    DECISION_TREE,
    ONE_CLASS_SVM,
    GAUSSIAN_NAIVE_BAYES,
    SVM,
    ONECLASS_RANDOM_FOREST,
    RBFSVM,
    POLYSVM,
    BIRCH_CLUSTERING,
    AUTOENCODER,
    AEMCA,
};

inline constexpr std::array<EnumRawValue<ModelKind>, 20> kModelKindRawValues{{
    {ModelKind::ANN, "ANN"},
    {ModelKind::CNN, "CNN"},
    {ModelKind::GBM, "GBM"},
    {ModelKind::LOGISTIC_REGRESSION, "LOGISTIC_REGRESSION"},
    {ModelKind::RANDOM_FOREST, "RANDOM_FOREST"},
    {ModelKind::XGB, "XGB"},
    {ModelKind::LOCAL_OUTLIER_FACTOR, "LOCAL_OUTLIER_FACTOR"},
    {ModelKind::ISOLATION_FOREST, "ISOLATION_FOREST"},
    {ModelKind::RNN, "RNN"},
    {ModelKind::CRNN, "CRNN"},
    {ModelKind::DECISION_TREE, "DECISION_TREE"},
    {ModelKind::ONE_CLASS_SVM, "ONE_CLASS_SVM"},
    {ModelKind::GAUSSIAN_NAIVE_BAYES, "GAUSSIAN_NAIVE_BAYES"},
    {ModelKind::SVM, "SVM"},
    {ModelKind::ONECLASS_RANDOM_FOREST, "ONECLASS_RANDOM_FOREST"},
    {ModelKind::RBFSVM, "RBFSVM"},
    {ModelKind::POLYSVM, "POLYSVM"},
    {ModelKind::BIRCH_CLUSTERING, "BIRCH_CLUSTERING"},
    {ModelKind::AUTOENCODER, "AUTOENCODER"},
    {ModelKind::AEMCA, "AEMCA"},
}};

constexpr const auto& enumRawValues(std::type_identity<ModelKind>) {
    return kModelKindRawValues;
}

// The short slug by which the cloud names the algorithm ("rf" for RANDOM_FOREST); one per kind.
std::string_view modelSlug(ModelKind kind);

// The kind whose slug is `slug` exactly, or none.
std::optional<ModelKind> modelKindForSlug(std::string_view slug);

}  // namespace brisel::common
