// Records the WiFi presence notices that the server sends towards the browser.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "device/wifi/wifi_settings.h"

namespace brisel::test {

class WifiPresenceRecorder {
  public:
    // A notifier to put into the server's settings; the recorder must outlive the server.
    device::PresenceNotifier notifier() {
        return [this](bool present) {
            {
                std::lock_guard lock(mutex);
                notices.push_back(present);
            }
            changed.notify_all();
        };
    }

    // Waits until at least `count` notices came (or `timeout` passed) and returns all of them.
    std::vector<bool> waitFor(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, timeout, [&] { return notices.size() >= count; });
        return notices;
    }

    std::vector<bool> all() {
        std::lock_guard lock(mutex);
        return notices;
    }

  private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> notices;
};

}  // namespace brisel::test
