#include "webview/parentwindow.h"

#include "webview/parentlink.h"

#include <QGuiApplication>
#include <QWidget>

#ifdef TAVISK_HAVE_XCB
#include "webview/x11parent.h"
#endif
#ifdef TAVISK_HAVE_WAYLAND_FOREIGN
#include "webview/waylandparent.h"
#endif

namespace {

bool onPlatform(const char *name)
{
    return QGuiApplication::platformName().startsWith(QLatin1String(name));
}

// The link of the platform Qt runs on, where this build has its window system's part.
std::unique_ptr<ParentLink> linkOfPlatform()
{
#ifdef TAVISK_HAVE_XCB
    if (onPlatform("xcb"))
        return x11ParentLink();
#endif
#ifdef TAVISK_HAVE_WAYLAND_FOREIGN
    if (onPlatform("wayland"))
        return waylandParentLink();
#endif
    return nullptr;
}

} // namespace

void setTopLevelType(QWidget *window, Qt::WindowType type)
{
    if (window->windowType() != type)
        window->setWindowFlags((window->windowFlags() & ~Qt::WindowType_Mask) | type);
}

ParentWindow::ParentWindow()
    : link(linkOfPlatform())
{ }

ParentWindow::~ParentWindow() = default;

void ParentWindow::prepare(QWidget *window, const ParentHandle &parent)
{
    pending = parent;
    if (link == nullptr || !link->prepare(window, parent))
        setTopLevelType(window, Qt::Window);
}

void ParentWindow::attachShown(QWidget *window)
{
    if (link != nullptr)
        link->attachShown(window, pending);
}

void ParentWindow::release(QWidget *window)
{
    if (link != nullptr)
        link->release(window);
    pending = ParentHandle();
}
