#include "webview/x11parent.h"

#include "webview/screenplacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <optional>

namespace {

template<typename Reply> using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

// The X window's rectangle on the screen, in X pixels, while it is shown; nothing when the id
// names no window (any more) or one that is not shown (minimised, say): a window manager keeps
// the transients of such a window hidden with it, and the sign-in would wait unseen. The
// requests are checked: a stale id comes back here, not as a warning on stderr.
std::optional<QRect> x11ShownRect(std::uint32_t id)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr)
        return std::nullopt;
    const xcb_get_window_attributes_cookie_t attributesAsked
        = xcb_get_window_attributes(connection, id);
    const xcb_get_geometry_cookie_t geometryAsked = xcb_get_geometry(connection, id);
    xcb_generic_error_t *error = nullptr;
    const XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, attributesAsked, &error), &std::free);
    std::free(error);
    error = nullptr;
    const XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, geometryAsked, &error), &std::free);
    std::free(error);
    if (attributes == nullptr || geometry == nullptr
        || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return std::nullopt;
    error = nullptr;
    const XcbReply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, id, geometry->root, 0, 0), &error),
        &std::free);
    std::free(error);
    if (origin == nullptr)
        return std::nullopt;
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

// Moves window so that its outer rectangle is centred over `over` (logical pixels) and lies in
// the free area of the screen that holds the centre. The frame is not known before the window
// manager has framed the window; the client area stands in for it then.
void centreOver(QWidget *window, const QRect &over)
{
    const QSize outer = window->frameGeometry().size();
    const QPoint topLeft = over.center() - QPoint(outer.width() / 2, outer.height() / 2);
    QScreen *screen = QGuiApplication::screenAt(over.center());
    const QRect room = (screen != nullptr ? screen : window->screen())->availableGeometry();
    window->move(topLeftInside(room, QRect(topLeft, outer)));
}

class X11ParentLink : public ParentLink
{
public:
    bool prepare(QWidget *window, const ParentHandle &parent) override
    {
        if (parent.system != ParentHandle::System::X11)
            return false;
        const std::optional<QRect> rect = x11ShownRect(parent.x11Window);
        if (!rect)
            return false;
        // Qt's X11 platform writes WM_TRANSIENT_FOR only for dialogs and other transient window
        // types; a dialog is also what window managers keep above its parent.
        setTopLevelType(window, Qt::Dialog);
        foreignParent.reset(QWindow::fromWinId(parent.x11Window));
        window->winId();
        window->windowHandle()->setTransientParent(foreignParent.get());
        const qreal ratio = window->devicePixelRatioF();
        centreOver(window,
                   QRect((QPointF(rect->topLeft()) / ratio).toPoint(),
                         (QSizeF(rect->size()) / ratio).toSize()));
        return true;
    }

    void attachShown(QWidget *, const ParentHandle &) override { }

    void release(QWidget *window) override
    {
        if (foreignParent == nullptr)
            return;
        if (QWindow *native = window->windowHandle())
            native->setTransientParent(nullptr);
        foreignParent.reset();
    }

private:
    std::unique_ptr<QWindow> foreignParent; // the X11 parent as a foreign window
};

} // namespace

std::unique_ptr<ParentLink> x11ParentLink()
{
    return std::make_unique<X11ParentLink>();
}
