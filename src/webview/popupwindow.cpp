#include "webview/popupwindow.h"

#include "webview/authpage.h"
#include "webview/pageframe.h"
#include "webview/promptparts.h"

#include <QWebEngineView>

PopupWindow::PopupWindow(AuthPage *page, QWidget *signInWindow, qreal zoomFactor)
    : QMainWindow(signInWindow, Qt::Window)
    , page(page)
    , view(new QWebEngineView(static_cast<QWidget *>(nullptr)))
    , zoom(this, zoomFactor)
{
    auto *frame = new PageFrame(view, view, this);
    setCentralWidget(frame);
    setAttribute(Qt::WA_DeleteOnClose);
    // The sign-in window's title stays the client's.
    setWindowTitle(signInWindow->windowTitle());
    connect(page, &QWebEnginePage::titleChanged, this, [this](const QString &title) {
        if (!title.isEmpty())
            setWindowTitle(literalWindowTitle(title));
    });
    page->setParent(view);
    frame->showPage(page);
    zoom.setPage(page);
    connect(page, &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
}

PopupWindow::~PopupWindow()
{
    // A page that waits for its credentials prompt leaves the window before the window goes, so
    // that it outlives the engine's call that waits.
    if (!page.isNull() && page->isWaitingForCredentials())
        page->discard();
}

void PopupWindow::showOver(QWidget *signInWindow)
{
    resize(signInWindow->size() * 3 / 4);
    bringForward(this);
    view->setFocus();
}
