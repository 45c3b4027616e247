// Test tool: answers an alert of a program on the X display with one key, as a user at the keyboard
// does. Usage: alert_key <pid> <Return|Escape>. Waits, at most 30 s, until the process shows a dialog
// window (_NET_WM_PID and _NET_WM_WINDOW_TYPE_DIALOG, as Qt sets them), then sends that window a press
// and a release of the key, again each second until it closes (30 s in all). Exit status 0 once sent.
#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
ReplyPointer<Reply> owned(Reply* reply) {
    return ReplyPointer<Reply>(reply, &std::free);
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const auto reply = owned(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

struct Atoms {
    xcb_atom_t pid;
    xcb_atom_t type;
    xcb_atom_t dialog;
};

// Whether `window` is a mapped dialog of process `pid`.
bool isDialogOf(xcb_connection_t* connection, xcb_window_t window, std::uint32_t pid, const Atoms& atoms) {
    const auto attributes = owned(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
        return false;
    }
    const auto owner = owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, atoms.pid, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!owner || xcb_get_property_value_length(owner.get()) != 4 ||
        *static_cast<const std::uint32_t*>(xcb_get_property_value(owner.get())) != pid) {
        return false;
    }
    const auto types = owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, atoms.type, XCB_ATOM_ATOM, 0, 16), nullptr));
    if (!types) {
        return false;
    }
    const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(types.get()));
    for (int index = 0; index < xcb_get_property_value_length(types.get()) / 4; ++index) {
        if (values[index] == atoms.dialog) {
            return true;
        }
    }
    return false;
}

std::optional<xcb_window_t> findDialog(xcb_connection_t* connection, xcb_window_t root, std::uint32_t pid,
                                       const Atoms& atoms) {
    const auto tree = owned(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree) {
        return std::nullopt;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int index = 0; index < xcb_query_tree_children_length(tree.get()); ++index) {
        if (isDialogOf(connection, children[index], pid, atoms)) {
            return children[index];
        }
    }
    return std::nullopt;
}

std::optional<xcb_keycode_t> keycodeOf(xcb_connection_t* connection, xcb_keysym_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    const auto mapping = owned(xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr));
    if (!mapping) {
        return std::nullopt;
    }
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perKeycode = mapping->keysyms_per_keycode;
    for (int keycode = 0; keycode < count; ++keycode) {
        for (int column = 0; column < perKeycode; ++column) {
            if (keysyms[keycode * perKeycode + column] == keysym) {
                return static_cast<xcb_keycode_t>(setup->min_keycode + keycode);
            }
        }
    }
    return std::nullopt;
}

void sendKey(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window, xcb_keycode_t keycode) {
    for (const std::uint8_t type : {std::uint8_t{XCB_KEY_PRESS}, std::uint8_t{XCB_KEY_RELEASE}}) {
        xcb_key_press_event_t event{};
        event.response_type = type;
        event.detail = keycode;
        event.time = XCB_CURRENT_TIME;
        event.root = root;
        event.event = window;
        event.child = XCB_NONE;
        event.event_x = 1;
        event.event_y = 1;
        event.same_screen = 1;
        xcb_send_event(connection, 0, window,
                       type == XCB_KEY_PRESS ? XCB_EVENT_MASK_KEY_PRESS : XCB_EVENT_MASK_KEY_RELEASE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_flush(connection);
}

// Reads events until one satisfies `wanted`; false when `deadline` passed first or the connection broke.
template <typename Wanted>
bool awaitEvent(xcb_connection_t* connection, Clock::time_point deadline, Wanted wanted) {
    while (xcb_connection_has_error(connection) == 0) {
        while (const auto event = owned(xcb_poll_for_event(connection))) {
            if (wanted(*event)) {
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd readable{.fd = xcb_get_file_descriptor(connection), .events = POLLIN, .revents = 0};
        ::poll(&readable, 1, static_cast<int>(left.count()));
    }
    return false;
}

std::uint8_t typeOf(const xcb_generic_event_t& event) {
    return event.response_type & 0x7f;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: alert_key <pid> <Return|Escape>\n");
        return 2;
    }
    const auto pid = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const std::string key = argv[2];
    const xcb_keysym_t keysym = key == "Escape" ? 0xff1b : 0xff0d;  // XK_Escape, XK_Return
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(nullptr, nullptr), &xcb_disconnect);
    if (xcb_connection_has_error(connection.get()) != 0) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data->root;
    const Atoms atoms{.pid = atom(connection.get(), "_NET_WM_PID"),
                      .type = atom(connection.get(), "_NET_WM_WINDOW_TYPE"),
                      .dialog = atom(connection.get(), "_NET_WM_WINDOW_TYPE_DIALOG")};
    // Every window mapped from here on is an event; the windows already there are looked at first.
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection.get(), root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection.get());
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    std::optional<xcb_window_t> dialog = findDialog(connection.get(), root, pid, atoms);
    while (!dialog && awaitEvent(connection.get(), deadline, [](const xcb_generic_event_t& event) {
        return typeOf(event) == XCB_MAP_NOTIFY;
    })) {
        dialog = findDialog(connection.get(), root, pid, atoms);
    }
    if (!dialog) {
        std::fprintf(stderr, "no dialog of process %u appeared within 30 s\n", pid);
        return 1;
    }
    const auto keycode = keycodeOf(connection.get(), keysym);
    if (!keycode) {
        std::fprintf(stderr, "the keyboard has no %s key\n", key.c_str());
        return 1;
    }
    // A key that reaches the dialog before its program is ready for it is lost: it goes again each second
    // until the dialog closes.
    const auto closed = [window = *dialog](const xcb_generic_event_t& event) {
        return (typeOf(event) == XCB_UNMAP_NOTIFY &&
                reinterpret_cast<const xcb_unmap_notify_event_t&>(event).window == window) ||
               (typeOf(event) == XCB_DESTROY_NOTIFY &&
                reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window == window);
    };
    do {
        sendKey(connection.get(), root, *dialog, *keycode);
        std::printf("sent %s to window 0x%x\n", key.c_str(), *dialog);
        std::fflush(stdout);
    } while (
        !awaitEvent(connection.get(), std::min(deadline, Clock::now() + std::chrono::seconds(1)), closed) &&
        Clock::now() < deadline);
    return 0;
}
