#include "workflows/connection_close_watch.h"

#include <utility>

namespace brisel::workflows {

ConnectionCloseWatch::ConnectionCloseWatch(std::shared_ptr<frame::WebSocket> connection_,
                                           std::function<void()> onClose)
    : connection(std::move(connection_)) {
    if (!connection) {
        return;
    }
    id = connection->addCloseCallback(onClose);
    // A connection that closed before the callback was added never runs it.
    if (connection->state() == frame::WebSocketState::disconnected) {
        onClose();
    }
}

ConnectionCloseWatch::~ConnectionCloseWatch() {
    if (connection) {
        connection->removeCloseCallback(id);
    }
}

ConnectionCloseWatch::ConnectionCloseWatch(ConnectionCloseWatch&& other) noexcept
    : connection(std::move(other.connection)), id(other.id) {
    other.connection.reset();
}

}  // namespace brisel::workflows
