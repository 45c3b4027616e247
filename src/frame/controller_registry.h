// Which controller serves each routed request type.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "frame/brisel_action.h"
#include "frame/route_decoding.h"
#include "frame/websocket.h"

namespace brisel::frame {

// Maps each request type of the route table to a factory of its controller. Filled before the
// websocket server starts and only read afterwards (on the websocket thread).
class ControllerRegistry {
  public:
    template <class Request>
    using Factory =
        std::function<std::shared_ptr<BriselAction>(const std::shared_ptr<WebSocket>&, const Request&)>;

    // A registry in which only the handshake (`VersionInformation`) has its controller.
    static ControllerRegistry withFrameControllers();

    // Makes `factory` the controller factory of `Request` (a type of `RoutedRequest`), replacing an
    // earlier one.
    template <class Request>
    void add(Factory<Request> factory);

    // The controller for `request` on `connection`, or none when its type has no controller. Pure
    // apart from what the factory does.
    std::shared_ptr<BriselAction> create(const std::shared_ptr<WebSocket>& connection,
                                         const RoutedRequest& request) const;

  private:
    using AnyFactory =
        std::function<std::shared_ptr<BriselAction>(const std::shared_ptr<WebSocket>&, const RoutedRequest&)>;

    template <class Request, std::size_t Index = 0>
    static constexpr std::size_t indexOf() {
        static_assert(Index < std::variant_size_v<RoutedRequest>, "not a routed request type");
        if constexpr (std::is_same_v<std::variant_alternative_t<Index, RoutedRequest>, Request>) {
            return Index;
        } else {
            return indexOf<Request, Index + 1>();
        }
    }

    std::array<AnyFactory, std::variant_size_v<RoutedRequest>> factories;
};

// The name of the request type that `request` holds ("FlashRequest", ...), for log lines.
std::string_view requestTypeName(const RoutedRequest& request);

template <class Request>
void ControllerRegistry::add(Factory<Request> factory) {
    constexpr std::size_t index = indexOf<Request>();
    factories[index] = [made = std::move(factory)](const std::shared_ptr<WebSocket>& connection,
                                                   const RoutedRequest& request) {
        return made(connection, std::get<index>(request));
    };
}

}  // namespace brisel::frame
