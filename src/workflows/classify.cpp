#include "workflows/classify.h"

namespace brisel::workflows {

std::string_view toString(ClassifyError error) {
    switch (error) {
        case ClassifyError::noDataError:
            return "noDataError";
    }
    return "noDataError";
}

std::mutex& Classify::wsLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace brisel::workflows
