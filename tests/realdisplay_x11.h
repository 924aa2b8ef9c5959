#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <xcb/xcb.h>

// A connection of the test's own to the X server, for what the command-line
// tools do not offer: asking a top-level window to close the way a window
// manager's close button does (a WM_DELETE_WINDOW client message, which the
// toolkit turns into a close event; destroying or killing the window would end
// the program with an X error), and asking whether a window is still on the
// screen. libxcb is opened at run time so the tests need no X libraries at
// link time; the headers only supply the wire types.
namespace RealDisplayX11 {

class Connection
{
public:
    explicit Connection(const QByteArray &display)
    {
        library = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        if (!Resolve(connect, "xcb_connect") || !Resolve(hasError, "xcb_connection_has_error")
            || !Resolve(disconnect, "xcb_disconnect") || !Resolve(internAtom, "xcb_intern_atom")
            || !Resolve(internAtomReply, "xcb_intern_atom_reply")
            || !Resolve(sendEventChecked, "xcb_send_event_checked")
            || !Resolve(requestCheck, "xcb_request_check")
            || !Resolve(getAttributes, "xcb_get_window_attributes")
            || !Resolve(getAttributesReply, "xcb_get_window_attributes_reply"))
            return;
        connection = connect(display.constData(), nullptr);
        if (hasError(connection))
            return;
        protocols = Atom("WM_PROTOCOLS");
        deleteWindow = Atom("WM_DELETE_WINDOW");
    }

    ~Connection()
    {
        if (connection)
            disconnect(connection);
        if (library)
            dlclose(library);
    }

    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool IsOpen() const
    {
        return connection && !hasError(connection) && protocols != XCB_ATOM_NONE
            && deleteWindow != XCB_ATOM_NONE;
    }

    // True once the server has passed the request on to the window's owner.
    // The check is a round trip, and it matters: a client that hangs up right
    // after writing a request can have it thrown away unread, because the
    // server drops a connection whose peer has gone before reading what is
    // still buffered on it. A busy machine makes that the rule, not the
    // exception.
    bool SendDeleteWindow(quint32 window)
    {
        if (!IsOpen())
            return false;
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = protocols;
        event.data.data32[0] = deleteWindow;
        event.data.data32[1] = XCB_CURRENT_TIME;
        const xcb_void_cookie_t cookie = sendEventChecked(
            connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
        xcb_generic_error_t *error = requestCheck(connection, cookie);
        std::free(error);
        return !error && !hasError(connection);
    }

    // Mapped with all its ancestors; false for a window that is gone.
    bool IsViewable(quint32 window)
    {
        if (!IsOpen())
            return false;
        xcb_generic_error_t *error = nullptr;
        xcb_get_window_attributes_reply_t *reply
            = getAttributesReply(connection, getAttributes(connection, window), &error);
        const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(reply);
        std::free(error);
        return viewable;
    }

private:
    template <typename Function> bool Resolve(Function &function, const char *name)
    {
        function = reinterpret_cast<Function>(dlsym(library, name));
        return function != nullptr;
    }

    xcb_atom_t Atom(const char *name)
    {
        const auto cookie
            = internAtom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t *reply = internAtomReply(connection, cookie, nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    void *library = nullptr;
    xcb_connection_t *connection = nullptr;
    xcb_atom_t protocols = XCB_ATOM_NONE;
    xcb_atom_t deleteWindow = XCB_ATOM_NONE;
    decltype(&xcb_connect) connect = nullptr;
    decltype(&xcb_connection_has_error) hasError = nullptr;
    decltype(&xcb_disconnect) disconnect = nullptr;
    decltype(&xcb_intern_atom) internAtom = nullptr;
    decltype(&xcb_intern_atom_reply) internAtomReply = nullptr;
    decltype(&xcb_send_event_checked) sendEventChecked = nullptr;
    decltype(&xcb_request_check) requestCheck = nullptr;
    decltype(&xcb_get_window_attributes) getAttributes = nullptr;
    decltype(&xcb_get_window_attributes_reply) getAttributesReply = nullptr;
};

// An X server of the test's own (Xvfb). It picks a free display number itself
// and writes it out once it takes connections: several runs of the tests at a
// time (other build trees) cannot end up on one display, as they could when
// the number was chosen by looking for lock files and then started.
class Server
{
public:
    ~Server() { Stop(); }

    // Why the server is not there to use, or nothing once Display() is.
    QString Start(const QString &screen, int waitMs)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("Xvfb"),
                      { QStringLiteral("-displayfd"), QStringLiteral("1"),
                        QStringLiteral("-screen"), QStringLiteral("0"), screen,
                        QStringLiteral("-nolisten"), QStringLiteral("tcp") });
        if (!process.waitForStarted(waitMs))
            return QStringLiteral("Xvfb could not be started");
        QDeadlineTimer deadline(waitMs);
        while (!process.canReadLine() && process.state() == QProcess::Running
               && !deadline.hasExpired())
            process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        const QByteArray number = process.readLine().trimmed();
        if (number.isEmpty())
            return QStringLiteral("Xvfb did not report a display");
        display = ":" + number;
        return {};
    }

    // ":N", or empty before the server reported it.
    const QByteArray &Display() const { return display; }

    void Stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
        }
    }

private:
    QProcess process;
    QByteArray display;
};

} // namespace RealDisplayX11
