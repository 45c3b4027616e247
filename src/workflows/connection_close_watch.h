// A workflow's interest in the closing of the browser connection it reports to.
#pragma once

#include <functional>
#include <memory>

#include "frame/websocket.h"

namespace brisel::workflows {

// Adds a close callback to a connection for as long as it lives and removes it when destroyed, so
// that several workflows on one connection each keep their own. Move-only.
class ConnectionCloseWatch {
  public:
    // Adds `onClose` to `connection`'s close callbacks. When the connection is already closed (a
    // callback added now would never run), `onClose` runs at once on the calling thread.
    // Any thread.
    ConnectionCloseWatch(std::shared_ptr<frame::WebSocket> connection, std::function<void()> onClose);
    // Removes the callback unless it has run. Any thread.
    ~ConnectionCloseWatch();
    ConnectionCloseWatch(const ConnectionCloseWatch&) = delete;
    ConnectionCloseWatch& operator=(const ConnectionCloseWatch&) = delete;
    ConnectionCloseWatch(ConnectionCloseWatch&& other) noexcept;
    ConnectionCloseWatch& operator=(ConnectionCloseWatch&&) = delete;

  private:
    std::shared_ptr<frame::WebSocket> connection;  // none once moved from
    frame::CloseCallbackId id{};
};

}  // namespace brisel::workflows
