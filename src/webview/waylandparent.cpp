#include "webview/waylandparent.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include "xdg-foreign-unstable-v1-client-protocol.h"
#include "xdg-foreign-unstable-v2-client-protocol.h"

#include <cstring>
#include <memory>

namespace {

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

// The compositor's xdg-foreign importer, v2 where offered, else v1 (mutter 43 offers only v1,
// KWin 5.27 only v2), and the one imported parent of the sign-in in flight. Its objects live on
// an event queue of their own, so that finding the importer never dispatches Qt's events from
// inside a sign-in's start. Nothing reads that queue afterwards: the only event it could hold,
// an imported handle's "destroyed", needs no answer, as the link then simply ends.
class Importer
{
public:
    explicit Importer(wl_display *display)
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

    ~Importer()
    {
        drop();
        if (importerV2 != nullptr)
            zxdg_importer_v2_destroy(importerV2);
        if (importerV1 != nullptr)
            zxdg_importer_v1_destroy(importerV1);
        wl_display_flush(display);
        wl_event_queue_destroy(queue);
    }

    Importer(const Importer &) = delete;
    Importer &operator=(const Importer &) = delete;

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

private:
    wl_display *const display;
    wl_event_queue *const queue;
    zxdg_importer_v2 *importerV2 = nullptr;
    zxdg_importer_v1 *importerV1 = nullptr;
    zxdg_imported_v2 *importedV2 = nullptr;
    zxdg_imported_v1 *importedV1 = nullptr;
};

class WaylandParentLink : public ParentLink
{
public:
    // The parent is set once the window has its toplevel, right after show().
    bool prepare(QWidget *, const ParentHandle &) override { return false; }

    void attachShown(QWidget *window, const ParentHandle &parent) override
    {
        if (parent.system != ParentHandle::System::Wayland)
            return;
        QWindow *native = window->windowHandle();
        auto *surface = static_cast<wl_surface *>(waylandResource("surface", native));
        // Only a toplevel may be a child; for any other surface the compositor would end the
        // whole connection with a protocol error.
        if (surface == nullptr || waylandResource("xdg_toplevel", native) == nullptr)
            return;
        if (importer == nullptr) {
            auto *display = static_cast<wl_display *>(waylandResource("wl_display", nullptr));
            if (display == nullptr)
                return;
            importer = std::make_unique<Importer>(display);
        }
        importer->import(parent.waylandHandle, surface);
    }

    void release(QWidget *) override
    {
        if (importer != nullptr)
            importer->drop();
    }

private:
    std::unique_ptr<Importer> importer; // bound on first use
};

} // namespace

std::unique_ptr<ParentLink> waylandParentLink()
{
    return std::make_unique<WaylandParentLink>();
}
