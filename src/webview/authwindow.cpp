#include "webview/authwindow.h"

#include "channel/guicalls.h"
#include "signin/helperstate.h"
#include "signin/silentsignin.h"
#include "signin/siteorigin.h"
#include "webview/authpage.h"
#include "webview/loadingview.h"
#include "webview/originstrip.h"
#include "webview/sessionprofiles.h"
#include "webview/silentwatch.h"
#include "webview/windowactivation.h"

#include <QCloseEvent>
#include <QKeySequence>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWindow>

#include <cstdio>
#include <iterator>
#include <mutex>
#include <utility>

namespace {

// Qt reads "[*]" in a window title as the place of the window-modified mark and hides it;
// doubled, it stands for itself.
QString literalWindowTitle(QString title)
{
    return title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

// The engine's own menu offers Back, Reload, Save page and View source, which would reach pages
// the sign-in has left; people still paste user names and passwords.
void offerOnlyEditingMenu(QWebEngineView *view)
{
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(view, &QWidget::customContextMenuRequested, view, [view](const QPoint &at) {
        auto *menu = new QMenu(view);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        for (const QWebEnginePage::WebAction action :
             {QWebEnginePage::Undo, QWebEnginePage::Redo, QWebEnginePage::Cut, QWebEnginePage::Copy,
              QWebEnginePage::Paste, QWebEnginePage::SelectAll}) {
            menu->addAction(view->pageAction(action));
        }
        menu->popup(view->mapToGlobal(at));
    });
}

// The strip follows every navigation of `page` and shows its loads' progress.
void followInStrip(OriginStrip *strip, QWebEnginePage *page)
{
    QObject::connect(page, &QWebEnginePage::urlChanged, strip, &OriginStrip::showSite);
    QObject::connect(page, &QWebEnginePage::loadStarted, strip,
                     [strip] { strip->showProgress(0); });
    QObject::connect(page, &QWebEnginePage::loadProgress, strip, &OriginStrip::showProgress);
    QObject::connect(page, &QWebEnginePage::loadFinished, strip, &OriginStrip::hideProgress);
}

// `view` under a strip of its own, in one widget.
QWidget *underStrip(OriginStrip *strip, QWidget *view, QWidget *parent)
{
    auto *holder = new QWidget(parent);
    auto *column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(strip);
    column->addWidget(view, 1);
    return holder;
}

// The zoom levels a browser steps through, as factors.
constexpr qreal kZoomSteps[]
    = {0.25, 0.33, 0.5, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0, 4.0, 5.0};

qreal nextZoom(qreal current, int direction)
{
    if (direction == 0)
        return 1.0;
    // From a factor between two steps (the wheel's), the next step in that direction.
    constexpr qreal kSlack = 0.001;
    if (direction > 0) {
        for (const qreal step : kZoomSteps) {
            if (step > current + kSlack)
                return step;
        }
        return current;
    }
    for (auto step = std::rbegin(kZoomSteps); step != std::rend(kZoomSteps); ++step) {
        if (*step < current - kSlack)
            return *step;
    }
    return current;
}

// Ctrl+plus, Ctrl+minus and Ctrl+0 anywhere in `window` call `zoom` with +1, -1 and 0. The
// page takes none of them for itself. Ctrl+= is Ctrl+plus without Shift, as in browsers.
template<typename Zoom> void addZoomKeys(QWidget *window, Zoom zoom)
{
    const std::pair<QKeySequence, int> zoomKeys[] = {
        {QKeySequence::ZoomIn, 1},
        {QKeySequence(Qt::CTRL | Qt::Key_Equal), 1},
        {QKeySequence::ZoomOut, -1},
        {QKeySequence(Qt::CTRL | Qt::Key_0), 0},
    };
    for (const auto &[keys, direction] : zoomKeys) {
        auto *shortcut = new QShortcut(keys, window);
        QObject::connect(shortcut, &QShortcut::activated, window,
                         [zoom, direction = direction] { zoom(direction); });
    }
}

bool frameKnown(const QWidget *window)
{
    const QWindow *native = window->windowHandle();
    return native != nullptr && !native->frameMargins().isNull();
}

// 800 by 600, or as much of it as the screen's available area holds with the window system's
// frame around it, so that a person can always reach the frame's close button (at scale 2 a
// 1280 by 1024 screen holds only 640 by 512).
void fitToScreen(QWidget *window)
{
    const QRect room = window->screen()->availableGeometry();
    const QMargins frame = frameKnown(window) ? window->windowHandle()->frameMargins() : QMargins();
    window->resize(QSize(800, 600).boundedTo(room.size().shrunkBy(frame)));
    const QRect outer = window->frameGeometry();
    if (!room.contains(outer))
        window->move(qBound(room.left(), outer.left(), room.right() + 1 - outer.width()),
                     qBound(room.top(), outer.top(), room.bottom() + 1 - outer.height()));
}

// A window manager frames a window only some time after it is mapped, and may place it after
// that too; no event says when it is done. Looks again every 50 ms while the window is shown,
// fits it whenever its frame is known and does not lie inside the screen, and stops once the
// frame has been seen inside for a few looks in a row, or after two seconds (with no window
// manager nothing ever frames it).
void keepInsideScreenOnceFramed(QWidget *window)
{
    constexpr int kMostLooks = 40;
    constexpr int kLooksInsideToStop = 4;
    auto *timer = new QTimer(window);
    timer->setInterval(50);
    QObject::connect(
        timer, &QTimer::timeout, window, [window, timer, looks = 0, inside = 0]() mutable {
            if (!window->isVisible() || ++looks > kMostLooks) {
                timer->deleteLater();
                return;
            }
            if (!frameKnown(window))
                return;
            if (window->screen()->availableGeometry().contains(window->frameGeometry())) {
                if (++inside >= kLooksInsideToStop)
                    timer->deleteLater();
                return;
            }
            inside = 0;
            fitToScreen(window);
        });
    timer->start();
}

} // namespace

AuthWindow::AuthWindow(HelperState *state)
    : state(state)
    , strip(new OriginStrip)
    , view(new QWebEngineView(static_cast<QWidget *>(nullptr)))
    , loadingView(new LoadingView)
{
    // The loading view lies over the page rather than instead of it: the page stays shown and
    // keeps the keyboard focus while it loads underneath.
    auto *pageArea = new QWidget;
    auto *stack = new QStackedLayout(pageArea);
    stack->setStackingMode(QStackedLayout::StackAll);
    stack->addWidget(view);
    stack->addWidget(loadingView);
    loadingView->hide();
    setCentralWidget(underStrip(strip, pageArea, this));
    offerOnlyEditingMenu(view);
    page = newPage(state->profiles->runProfile(), view);
    view->setPage(page);

    addZoomKeys(this, [this](int direction) { zoomPage(direction); });
}

AuthWindow::~AuthWindow()
{
    // The sign-in's dialogs and choosers answer the page that asked, so they go while it still
    // exists, before the children are deleted.
    dropSignInWidgets();
}

AuthPage *AuthWindow::newPage(QWebEngineProfile *profile, QObject *parent)
{
    auto *fresh = new AuthPage(state, profile, parent);
    connect(fresh, &AuthPage::popupCreated, this, &AuthWindow::onPopupCreated);
    followInStrip(strip, fresh);
    fresh->setZoomFactor(zoomFactor);
    return fresh;
}

void AuthWindow::zoomPage(int direction)
{
    zoomFactor = nextZoom(page->zoomFactor(), direction);
    page->setZoomFactor(zoomFactor);
}

void AuthWindow::usePageOf(QWebEngineProfile *profile)
{
    if (page->profile() == profile)
        return;
    AuthPage *unused = page;
    page = newPage(profile, view);
    view->setPage(page);
    unused->discard();
}

bool AuthWindow::mayAsk(const char *reason)
{
    return signInOpen && !endSilentSignIn(*state, reason);
}

void AuthWindow::beginSignIn(const SignInPage &signIn)
{
    signInOpen = true;
    QWebEngineProfile *profile = state->profiles->profileFor(signIn);
    usePageOf(profile);
    setWindowTitle(literalWindowTitle(signIn.title));
    connect(page, &QWebEnginePage::loadFinished, this, &AuthWindow::onLoadFinished);
    // Set on every sign-in, so that one request's user agent never carries over to the next.
    const std::string &userAgent
        = signIn.userAgent.empty() ? state->defaultUserAgent : signIn.userAgent;
    profile->setHttpUserAgent(QString::fromStdString(userAgent));
    if (signIn.silent) {
        // Nothing is shown, raised or focused, and no parent is looked up: the page loads in the
        // hidden window until it reaches the redirect URI or needs a person.
        watchSilentSignIn(state, page);
        page->setUrl(signIn.url);
        return;
    }
    // Taken by the first sign-in that is shown: a silent one leaves the start-up token for it.
    const std::string activationToken = signInActivationToken(signIn.activationToken);
    fitToScreen(this);
    parent.prepare(this, signIn.parent);
    // Until the first frame of the first page (the engine reports the page's size with it), or
    // the end of its load when it fails before one.
    strip->showSite(signIn.url);
    loadingView->showConnecting(siteOriginOf(signIn.url).host);
    connect(page, &QWebEnginePage::contentsSizeChanged, loadingView, &QWidget::hide,
            Qt::SingleShotConnection);
    connect(page, &QWebEnginePage::loadFinished, loadingView, &QWidget::hide,
            Qt::SingleShotConnection);
    show();
    parent.attachShown(this);
    keepInsideScreenOnceFramed(this);
    raise();
    activateShownWindow(this, activationToken);
    view->setFocus();
    // The fresh page's own widget, which takes the keyboard focus inside the view, replaces the
    // last page's only once the page starts loading; in a window that is active by then nothing
    // else hands it the focus, and the page would show no caret and take no key.
    connect(
        page, &QWebEnginePage::loadStarted, view,
        [this] {
            if (isActiveWindow())
                view->setFocus();
        },
        Qt::SingleShotConnection);
    page->setUrl(signIn.url);
}

void AuthWindow::endSignIn()
{
    signInOpen = false;
    hide();
    dropSignInWidgets();
    // Ctrl+wheel zooms inside the engine; what the person chose by either way carries over.
    zoomFactor = page->zoomFactor();
    // The next page replaces this one before it goes, so the view never shows the old content
    // again and nothing of it (history, scripts, timers) survives into the next sign-in.
    AuthPage *ended = page;
    page = newPage(state->profiles->runProfile(), view);
    view->setPage(page);
    ended->discard();
    cancelActivation(this);
    parent.release(this);
    // Every sign-in gets a new native window, as after a close. A window that is hidden and
    // shown again can come back under XWayland looking focused while the X input focus stays
    // on no window, so that every key is lost; a new window is mapped and focused as such.
    if (QWindow *native = windowHandle())
        native->destroy();
    state->profiles->keepStoredDataPrivate();
}

void AuthWindow::dropSignInWidgets()
{
    for (const QPointer<QWidget> &widget : std::as_const(signInWidgets)) {
        if (widget.isNull())
            continue;
        // A popup's page that waits for its credentials prompt leaves its window before the
        // window goes, so that it outlives the engine's call that waits.
        const QList<AuthPage *> pages = widget->findChildren<AuthPage *>();
        for (AuthPage *popup : pages) {
            if (popup->isWaitingForCredentials())
                popup->discard();
        }
        delete widget.data();
    }
    signInWidgets.clear();
}

void AuthWindow::adoptSignInWidget(QWidget *widget)
{
    signInWidgets.append(widget);
}

void AuthWindow::onLoadFinished(bool ok)
{
    const std::string line = "[tavisk] loaded " + page->url().toString().toStdString()
        + (ok ? "" : " (failed)") + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    // A reader that went away must not silence every later line for good.
    std::clearerr(stdout);
}

void AuthWindow::onPopupCreated(AuthPage *popup)
{
    // A popup is a window of the sign-in: on top of it, without an address bar, closed by
    // window.close() or by the end of the sign-in.
    auto *popupView = new QWebEngineView(static_cast<QWidget *>(nullptr));
    auto *popupStrip = new OriginStrip;
    followInStrip(popupStrip, popup);
    // A main window, as the sign-in's is, so that screen readers see a frame named by its title.
    auto *popupWindow = new QMainWindow(this, Qt::Window);
    popupWindow->setCentralWidget(underStrip(popupStrip, popupView, popupWindow));
    popupWindow->setAttribute(Qt::WA_DeleteOnClose);
    // The popup shows its own document's title, as a browser's popup does; the sign-in
    // window's title stays the client's.
    popupWindow->setWindowTitle(windowTitle());
    connect(popup, &QWebEnginePage::titleChanged, popupWindow, [popupWindow](const QString &title) {
        if (!title.isEmpty())
            popupWindow->setWindowTitle(literalWindowTitle(title));
    });
    offerOnlyEditingMenu(popupView);
    popup->setParent(popupView);
    popupView->setPage(popup);
    // At the person's zoom, which its own keys change for it alone.
    popup->setZoomFactor(zoomFactor);
    addZoomKeys(popupWindow, [popup](int direction) {
        popup->setZoomFactor(nextZoom(popup->zoomFactor(), direction));
    });
    connect(popup, &AuthPage::popupCreated, this, &AuthWindow::onPopupCreated);
    connect(popup, &QWebEnginePage::windowCloseRequested, popupWindow, &QWidget::close);
    adoptSignInWidget(popupWindow);
    popupWindow->resize(size() * 3 / 4);
    popupWindow->show();
    popupWindow->raise();
    popupWindow->activateWindow();
    popupView->setFocus();
}

void AuthWindow::closeEvent(QCloseEvent *event)
{
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->completeNavigation(false, std::string(), "user_cancelled");
    }
    QMainWindow::closeEvent(event);
}

void openSignInWindow(HelperState *state, const SignInPage &page)
{
    if (state->window == nullptr)
        state->window = new AuthWindow(state);
    state->window->beginSignIn(page);
}

void hideSignInWindow(HelperState *state)
{
    if (state->window != nullptr)
        state->window->endSignIn();
}
