#include "common/model_kind.h"

#include <utility>

namespace brisel::common {

namespace {

// One to one: every kind has exactly one slug.
constexpr std::array<std::pair<std::string_view, ModelKind>, 20> kSlugs{{
    {"ann", ModelKind::ANN},
    {"cnn", ModelKind::CNN},
    {"gbm", ModelKind::GBM},
    {"lr", ModelKind::LOGISTIC_REGRESSION},
    {"rf", ModelKind::RANDOM_FOREST},
    {"xgb", ModelKind::XGB},
    {"lof", ModelKind::LOCAL_OUTLIER_FACTOR},
    {"if", ModelKind::ISOLATION_FOREST},
    {"rnn", ModelKind::RNN},
    {"crnn", ModelKind::CRNN},
    {"dt", ModelKind::DECISION_TREE},
    {"ocsvm", ModelKind::ONE_CLASS_SVM},
    {"gnb", ModelKind::GAUSSIAN_NAIVE_BAYES},
    {"svm", ModelKind::SVM},
    {"orf", ModelKind::ONECLASS_RANDOM_FOREST},
    {"rbfsvm", ModelKind::RBFSVM},
    {"polysvm", ModelKind::POLYSVM},
    {"birch", ModelKind::BIRCH_CLUSTERING},
    {"ae", ModelKind::AUTOENCODER},
    {"aemca", ModelKind::AEMCA},
}};

}  // namespace

std::string_view modelSlug(ModelKind kind) {
    for (const auto& [slug, slugKind] : kSlugs) {
        if (slugKind == kind) {
            return slug;
        }
    }
    return {};
}

std::optional<ModelKind> modelKindForSlug(std::string_view slug) {
    for (const auto& [candidate, kind] : kSlugs) {
        if (candidate == slug) {
            return kind;
        }
    }
    return std::nullopt;
}

}  // namespace brisel::common
