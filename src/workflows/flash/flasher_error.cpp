#include "workflows/flash/flasher_error.h"

namespace brisel::workflows {

std::string describe(const FlasherError& error) {
    if (error.portError) {
        return device::toString(*error.portError);
    }
    return "flashFailed(message: \"" + error.message + "\")";
}

std::string notInstalledText(std::string_view flasherName) {
    return std::string(flasherName) + " not installed";
}

std::string setUpGuideText() {
    return "Please make sure the set up guide was followed and try again or email " +
           std::string(kSupportEmailAddress) + " for personalized support.";
}

std::string failedToFlashText(std::string_view summary) {
    return "    " + std::string(summary) +
           " Please make sure the device is set up correctly and try again or email " +
           std::string(kSupportEmailAddress) + " for personalized support.";
}

}  // namespace brisel::workflows
