#include "webview/parentwindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#ifdef TAVISK_HAVE_XCB
#include <xcb/xcb.h>
#endif

#ifdef TAVISK_HAVE_WAYLAND_FOREIGN
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include "xdg-foreign-unstable-v1-client-protocol.h"
#include "xdg-foreign-unstable-v2-client-protocol.h"
#endif

namespace {

bool onPlatform(const char *name)
{
    return QGuiApplication::platformName().startsWith(QLatin1String(name));
}

// Top-level window types are set while the window has no native window (before its first show,
// or after endSignIn destroyed it), where a change only takes effect at the next show.
void setWindowType(QWidget *window, Qt::WindowType type)
{
    if (window->windowType() != type)
        window->setWindowFlags((window->windowFlags() & ~Qt::WindowType_Mask) | type);
}

// Moves window so that its outer rectangle is centred over `over` (logical pixels) and lies in
// the free area of the screen that holds the centre. The frame is not known before the window
// manager has framed the window; the client area stands in for it then.
void centreOver(QWidget *window, const QRect &over)
{
    const QSize outer = window->frameGeometry().size();
    QPoint topLeft = over.center() - QPoint(outer.width() / 2, outer.height() / 2);
    QScreen *screen = QGuiApplication::screenAt(over.center());
    const QRect room = (screen != nullptr ? screen : window->screen())->availableGeometry();
    topLeft.setX(qMax(room.left(), qMin(topLeft.x(), room.right() + 1 - outer.width())));
    topLeft.setY(qMax(room.top(), qMin(topLeft.y(), room.bottom() + 1 - outer.height())));
    window->move(topLeft);
}

// ---------------------------------------------------------------------------------------------
// X11

#ifdef TAVISK_HAVE_XCB

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

#endif

// ---------------------------------------------------------------------------------------------
// Wayland

#ifdef TAVISK_HAVE_WAYLAND_FOREIGN

// A resource of Qt's Wayland platform: of the window, or of the connection when window is null.
void *waylandResource(const char *name, QWindow *window)
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    if (native == nullptr)
        return nullptr;
    const QByteArray resource(name);
    return window != nullptr ? native->nativeResourceForWindow(resource, window)
                             : native->nativeResourceForIntegration(resource);
}

// The registry names of the two importers; 0: not offered.
struct Importers {
    std::uint32_t v1 = 0;
    std::uint32_t v2 = 0;
};

void onGlobal(void *data, wl_registry *, std::uint32_t name, const char *interface, std::uint32_t)
{
    auto *found = static_cast<Importers *>(data);
    if (std::strcmp(interface, zxdg_importer_v2_interface.name) == 0)
        found->v2 = name;
    else if (std::strcmp(interface, zxdg_importer_v1_interface.name) == 0)
        found->v1 = name;
}

void onGlobalRemove(void *, wl_registry *, std::uint32_t) { }

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

#endif

} // namespace

// The compositor's xdg-foreign importer, v2 where offered, else v1 (mutter 43 offers only v1,
// KWin 5.27 only v2), and the one imported parent of the sign-in in flight. Its objects live on
// an event queue of their own, so that finding the importer never dispatches Qt's events from
// inside a sign-in's start. Nothing reads that queue afterwards: the only event it could hold,
// an imported handle's "destroyed", needs no answer, as the link then simply ends.
struct ParentWindow::Wayland {
#ifdef TAVISK_HAVE_WAYLAND_FOREIGN
    explicit Wayland(wl_display *display)
        : display(display)
        , queue(wl_display_create_queue(display))
    {
        auto *wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(wrapper), queue);
        wl_registry *registry = wl_display_get_registry(wrapper);
        wl_proxy_wrapper_destroy(wrapper);
        Importers found;
        wl_registry_add_listener(registry, &kRegistryListener, &found);
        if (wl_display_roundtrip_queue(display, queue) >= 0) {
            if (found.v2 != 0)
                importerV2 = static_cast<zxdg_importer_v2 *>(
                    wl_registry_bind(registry, found.v2, &zxdg_importer_v2_interface, 1));
            else if (found.v1 != 0)
                importerV1 = static_cast<zxdg_importer_v1 *>(
                    wl_registry_bind(registry, found.v1, &zxdg_importer_v1_interface, 1));
        }
        wl_registry_destroy(registry);
    }

    ~Wayland()
    {
        drop();
        if (importerV2 != nullptr)
            zxdg_importer_v2_destroy(importerV2);
        if (importerV1 != nullptr)
            zxdg_importer_v1_destroy(importerV1);
        wl_display_flush(display);
        wl_event_queue_destroy(queue);
    }

    // Imports handle and makes it the parent of child, a surface with the xdg_toplevel role.
    // A handle the compositor does not know is answered with "destroyed" and changes nothing.
    void import(const std::string &handle, wl_surface *child)
    {
        drop();
        if (importerV2 != nullptr) {
            importedV2 = zxdg_importer_v2_import_toplevel(importerV2, handle.c_str());
            zxdg_imported_v2_set_parent_of(importedV2, child);
        } else if (importerV1 != nullptr) {
            importedV1 = zxdg_importer_v1_import(importerV1, handle.c_str());
            zxdg_imported_v1_set_parent_of(importedV1, child);
        }
        // Sent now, ahead of the window's first frame, so that the compositor maps the window
        // as the parent's child: placement and focus are decided at that moment.
        wl_display_flush(display);
    }

    // Ends the link; the window is the compositor's own toplevel again.
    void drop()
    {
        if (importedV2 != nullptr)
            zxdg_imported_v2_destroy(importedV2);
        if (importedV1 != nullptr)
            zxdg_imported_v1_destroy(importedV1);
        importedV2 = nullptr;
        importedV1 = nullptr;
    }

    wl_display *const display;
    wl_event_queue *const queue;
    zxdg_importer_v2 *importerV2 = nullptr;
    zxdg_importer_v1 *importerV1 = nullptr;
    zxdg_imported_v2 *importedV2 = nullptr;
    zxdg_imported_v1 *importedV1 = nullptr;
#endif
};

ParentWindow::ParentWindow() = default;

ParentWindow::~ParentWindow()
{
    delete x11Parent;
}

void ParentWindow::prepare(QWidget *window, const ParentHandle &parent)
{
    pending = parent;
    bool transient = false;
#ifdef TAVISK_HAVE_XCB
    if (parent.system == ParentHandle::System::X11 && onPlatform("xcb")) {
        if (const std::optional<QRect> rect = x11ShownRect(parent.x11Window)) {
            // Qt's X11 platform writes WM_TRANSIENT_FOR only for dialogs and other transient
            // window types; a dialog is also what window managers keep above its parent.
            setWindowType(window, Qt::Dialog);
            x11Parent = QWindow::fromWinId(parent.x11Window);
            window->winId();
            window->windowHandle()->setTransientParent(x11Parent);
            const qreal ratio = window->devicePixelRatioF();
            centreOver(window,
                       QRect((QPointF(rect->topLeft()) / ratio).toPoint(),
                             (QSizeF(rect->size()) / ratio).toSize()));
            transient = true;
        }
    }
#endif
    if (!transient)
        setWindowType(window, Qt::Window);
}

void ParentWindow::attachShown(QWidget *window)
{
#ifdef TAVISK_HAVE_WAYLAND_FOREIGN
    if (pending.system != ParentHandle::System::Wayland || !onPlatform("wayland"))
        return;
    QWindow *native = window->windowHandle();
    auto *surface = static_cast<wl_surface *>(waylandResource("surface", native));
    // Only a toplevel may be a child; for any other surface the compositor would end the whole
    // connection with a protocol error.
    if (surface == nullptr || waylandResource("xdg_toplevel", native) == nullptr)
        return;
    if (wayland == nullptr) {
        auto *display = static_cast<wl_display *>(waylandResource("wl_display", nullptr));
        if (display == nullptr)
            return;
        wayland = std::make_unique<Wayland>(display);
    }
    wayland->import(pending.waylandHandle, surface);
#else
    (void)window;
#endif
}

void ParentWindow::release(QWidget *window)
{
#ifdef TAVISK_HAVE_WAYLAND_FOREIGN
    if (wayland != nullptr)
        wayland->drop();
#endif
    if (x11Parent != nullptr) {
        if (QWindow *native = window->windowHandle())
            native->setTransientParent(nullptr);
        delete x11Parent;
        x11Parent = nullptr;
    }
    pending = ParentHandle();
}
