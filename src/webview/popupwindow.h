// A window a sign-in page opened (window.open, a link with a target).
#pragma once

#include "webview/pagezoom.h"

#include <QMainWindow>
#include <QPointer>

class AuthPage;
class PageFrame;
class QWebEngineView;

// A popup is a window of the sign-in: on top of the sign-in window, without an address bar,
// under an origin strip of its own, and closed by window.close() or by the end of the sign-in.
// It shows its own document's title, as a browser's popup does. A main window, as the sign-in's
// is, so that screen readers see a frame named by its title. Its zoom starts at the person's and
// its own keys change it for it alone. Deletes itself when closed. GUI thread only.
class PopupWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Shows `page`, which it takes from its parent; `zoomFactor` is the person's zoom.
    PopupWindow(AuthPage *page, QWidget *signInWindow, qreal zoomFactor);
    ~PopupWindow() override;

    // Shows the window over the sign-in window, at three quarters of its size, with the keyboard
    // in the page.
    void showOver(QWidget *signInWindow);

private:
    const QPointer<AuthPage> page;
    QWebEngineView *const view;
    PageZoom zoom;
};
