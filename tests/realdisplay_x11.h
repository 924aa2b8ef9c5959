#pragma once

#include <QByteArray>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <xcb/xcb.h>

// Asks a top-level window to close the way a window manager's close button
// does: a WM_DELETE_WINDOW client message, which the toolkit turns into a close
// event. Destroying or killing the window instead would end the program with
// an X error. libxcb is opened at run time so the tests need no X libraries at
// link time; the headers only supply the wire types.
namespace RealDisplayX11 {

inline bool SendDeleteWindow(const QByteArray &display, quint32 window)
{
    void *library = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return false;
    auto resolve = [library](const char *name) { return dlsym(library, name); };
    auto connect = reinterpret_cast<decltype(&xcb_connect)>(resolve("xcb_connect"));
    auto hasError = reinterpret_cast<decltype(&xcb_connection_has_error)>(
        resolve("xcb_connection_has_error"));
    auto internAtom = reinterpret_cast<decltype(&xcb_intern_atom)>(resolve("xcb_intern_atom"));
    auto internAtomReply
        = reinterpret_cast<decltype(&xcb_intern_atom_reply)>(resolve("xcb_intern_atom_reply"));
    auto sendEvent = reinterpret_cast<decltype(&xcb_send_event)>(resolve("xcb_send_event"));
    auto flush = reinterpret_cast<decltype(&xcb_flush)>(resolve("xcb_flush"));
    auto disconnect = reinterpret_cast<decltype(&xcb_disconnect)>(resolve("xcb_disconnect"));
    if (!connect || !hasError || !internAtom || !internAtomReply || !sendEvent || !flush
        || !disconnect) {
        dlclose(library);
        return false;
    }

    xcb_connection_t *connection = connect(display.constData(), nullptr);
    bool sent = false;
    if (!hasError(connection)) {
        auto atom = [&](const char *name) -> xcb_atom_t {
            const auto cookie
                = internAtom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
            xcb_intern_atom_reply_t *reply = internAtomReply(connection, cookie, nullptr);
            const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
            std::free(reply);
            return result;
        };
        const xcb_atom_t protocols = atom("WM_PROTOCOLS");
        const xcb_atom_t deleteWindow = atom("WM_DELETE_WINDOW");
        if (protocols != XCB_ATOM_NONE && deleteWindow != XCB_ATOM_NONE) {
            xcb_client_message_event_t event;
            std::memset(&event, 0, sizeof event);
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = window;
            event.type = protocols;
            event.data.data32[0] = deleteWindow;
            event.data.data32[1] = XCB_CURRENT_TIME;
            sendEvent(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                      reinterpret_cast<const char *>(&event));
            sent = flush(connection) > 0;
        }
    }
    disconnect(connection);
    dlclose(library);
    return sent;
}

} // namespace RealDisplayX11
