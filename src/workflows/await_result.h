// Waiting on the thread of a workflow for the outcome of one REST call.
#pragma once

#include <future>
#include <memory>
#include <utility>

#include "cloud/api_client.h"

namespace brisel::workflows {

// Starts a REST call with `start(completion)` and blocks the calling thread until the completion has
// delivered the outcome. The REST client runs every completion exactly once and bounds every call
// (its tries and their idle timeouts), so the wait ends. Never call it on the websocket thread.
//
//   auto kind = awaitResult<cloud::DeviceKindResponse>([&](auto done) {
//       cloud::RunService::shared().get<cloud::DeviceKindResponse>(request, std::move(done));
//   });
template <class Record, class Start>
cloud::APIResult<Record> awaitResult(Start&& start) {
    auto outcome = std::make_shared<std::promise<cloud::APIResult<Record>>>();
    auto future = outcome->get_future();
    std::forward<Start>(start)(
        [outcome](cloud::APIResult<Record> result) { outcome->set_value(std::move(result)); });
    return future.get();
}

}  // namespace brisel::workflows
