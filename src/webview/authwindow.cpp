#include "webview/authwindow.h"

#include "channel/guicalls.h"
#include "signin/helperstate.h"
#include "signin/loadfailure.h"
#include "signin/siteorigin.h"
#include "webview/loadfailureview.h"
#include "webview/loadingview.h"
#include "webview/originstrip.h"
#include "webview/pageframe.h"
#include "webview/popupwindow.h"
#include "webview/promptparts.h"
#include "webview/screenplacement.h"
#include "webview/sessionprofiles.h"
#include "webview/signinscope.h"
#include "webview/silentwatch.h"

#include <QCloseEvent>
#include <QStackedLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWindow>

#include <memory>
#include <mutex>
#include <utility>

namespace {

// `view` with `covers` lying over it rather than instead of it: the page stays shown and keeps
// the keyboard focus while it loads underneath.
QWidget *coveredBy(std::initializer_list<QWidget *> covers, QWidget *view)
{
    auto *area = new QWidget;
    auto *stack = new QStackedLayout(area);
    stack->setStackingMode(QStackedLayout::StackAll);
    stack->addWidget(view);
    for (QWidget *cover : covers) {
        stack->addWidget(cover);
        cover->hide();
    }
    return area;
}

// The one sign-in window, made on first use.
AuthWindow *signInWindow(const PageServices &services)
{
    HelperState *state = services.state;
    if (state->window == nullptr)
        state->window = new AuthWindow(services);
    return state->window;
}

} // namespace

AuthWindow::AuthWindow(const PageServices &services)
    : services(services)
    , view(new QWebEngineView(static_cast<QWidget *>(nullptr)))
    , loadingView(new LoadingView)
    , failureView(new LoadFailureView)
    , frame(new PageFrame(view, coveredBy({loadingView, failureView}, view), this))
    , zoom(this)
    , activation(this)
{
    connect(failureView, &LoadFailureView::closeRequested, this, &QWidget::close);
    setCentralWidget(frame);
    page = newPage(services.state->profiles->runProfile());
    warmPageIdle.setSingleShot(true);
    warmPageIdle.setInterval(kWarmPageIdleMs);
    connect(&warmPageIdle, &QTimer::timeout, this,
            [this] { replacePage(this->services.state->profiles->runProfile()); });
}

AuthWindow::~AuthWindow()
{
    // The sign-in's prompts answer the page that asked, so they go while it still exists,
    // before the children are deleted.
    services.signIn->close();
}

AuthPage *AuthWindow::newPage(QWebEngineProfile *profile)
{
    auto *fresh = new AuthPage(services, profile, view);
    connect(fresh, &AuthPage::popupCreated, this, &AuthWindow::onPopupCreated);
    connect(fresh, &QWebEnginePage::loadingChanged, this, &AuthWindow::onLoadingChanged);
    frame->showPage(fresh);
    zoom.setPage(fresh);
    return fresh;
}

void AuthWindow::replacePage(QWebEngineProfile *profile)
{
    // The next page replaces this one before it goes, so the view never shows the old content
    // again and nothing of it (history, scripts, timers) survives into the next sign-in.
    AuthPage *replaced = page;
    page = newPage(profile);
    warmth = Warmth::None;
    replaced->discard();
}

void AuthWindow::usePageOf(QWebEngineProfile *profile)
{
    if (page->profile() != profile)
        replacePage(profile);
}

void AuthWindow::warmUp()
{
    // An empty document needs no network and shows nothing, but it takes a render process,
    // which the engine hands on to the page's first real navigation rather than start another.
    page->setUrl(QUrl(QStringLiteral("about:blank")));
    warmPageIdle.start();
    warmth = Warmth::Loading;
    // Made before any sign-in's connection to the same signal, so it runs first.
    connect(
        page, &QWebEnginePage::loadFinished, this, [this] { warmth = Warmth::Loaded; },
        Qt::SingleShotConnection);
}

void AuthWindow::afterWarmUpSettles(const std::function<void()> &then)
{
    // Queued, never from inside the page's own signal: `then` may delete the page's window.
    if (warmth != Warmth::Loading) {
        QTimer::singleShot(0, this, then);
        return;
    }
    auto called = std::make_shared<bool>(false);
    const auto once = [called, then] {
        if (std::exchange(*called, true))
            return;
        then();
    };
    connect(page, &QWebEnginePage::loadFinished, this, once,
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
    QTimer::singleShot(kWarmUpSettleMs, this, once);
}

void AuthWindow::loadOnceWarm(const QUrl &url, const std::function<void()> &watchLoad)
{
    const auto load = [this, url, watchLoad] {
        watchLoad();
        page->printLoadLines();
        page->setUrl(url);
    };
    if (warmth != Warmth::Loading) {
        load();
        return;
    }
    // The empty document's own signals (its first frame, the end of its load) would otherwise
    // reach what watches the sign-in's page: they would take the loading view down before the
    // sign-in's page has shown anything, and print its load line. Its process is what the
    // sign-in waits for anyway.
    AuthPage *warm = page;
    connect(
        warm, &QWebEnginePage::loadFinished, this,
        [this, warm, load] {
            if (page == warm && services.signIn->isOpen())
                load();
        },
        Qt::SingleShotConnection);
}

void AuthWindow::beginSignIn(const SignInPage &signIn)
{
    services.signIn->open(this);
    warmPageIdle.stop();
    silent = signIn.silent;
    failureView->hide();
    QWebEngineProfile *profile = services.state->profiles->profileFor(signIn);
    usePageOf(profile);
    setWindowTitle(literalWindowTitle(signIn.title));
    // Set on every sign-in, so that one request's user agent never carries over to the next.
    const std::string &userAgent
        = signIn.userAgent.empty() ? services.state->defaultUserAgent : signIn.userAgent;
    profile->setHttpUserAgent(QString::fromStdString(userAgent));
    if (silent) {
        // Nothing is shown, raised or focused, and no parent is looked up: the page loads in the
        // hidden window until it reaches the redirect URI or needs a person. A failure the
        // person was still reading goes, as it would with a shown sign-in.
        hide();
        loadOnceWarm(signIn.url, [this] { watchSilentSignIn(services.state, page); });
        return;
    }
    // A window the person closed over a failure view still has its native window; the sign-in
    // gets a new one, as every sign-in does (endSignIn).
    if (QWindow *native = windowHandle(); native != nullptr && !isVisible())
        native->destroy();
    // Taken by the first sign-in that is shown: a silent one leaves the start-up token for it.
    const std::string activationToken = signInActivationToken(signIn.activationToken);
    fitToScreen(this);
    parent.prepare(this, signIn.parent);
    // Until the first frame of the first page (the engine reports the page's size with it), or
    // the end of its load when it fails before one.
    frame->strip()->showSite(signIn.url);
    loadingView->showConnecting(siteOriginOf(signIn.url).host);
    show();
    parent.attachShown(this);
    keepInsideScreenOnceFramed(this);
    raise();
    activation.activateShown(activationToken);
    view->setFocus();
    const bool warmDocument = warmth != Warmth::None;
    loadOnceWarm(signIn.url, [this, warmDocument] {
        // The warm-up's empty document stays on screen, and reports its size once shown, until
        // the sign-in's document replaces it; that one then reports no size if the two agree.
        // The sign-in's document resets the page's title as it replaces it.
        if (warmDocument)
            connect(page, &QWebEnginePage::titleChanged, loadingView, &QWidget::hide,
                    Qt::SingleShotConnection);
        else
            connect(page, &QWebEnginePage::contentsSizeChanged, loadingView, &QWidget::hide,
                    Qt::SingleShotConnection);
        connect(page, &QWebEnginePage::loadFinished, loadingView, &QWidget::hide,
                Qt::SingleShotConnection);
        // The fresh page's own widget, which takes the keyboard focus inside the view, replaces
        // the last page's only once the page starts loading; in a window that is active by then
        // nothing else hands it the focus, and the page would show no caret and take no key.
        connect(
            page, &QWebEnginePage::loadStarted, view,
            [this] {
                if (isActiveWindow())
                    view->setFocus();
            },
            Qt::SingleShotConnection);
    });
}

void AuthWindow::endSignIn()
{
    // The person reads why the sign-in failed before the window goes: they close it.
    const bool showsFailure = failureView->isVisible();
    if (!showsFailure)
        hide();
    services.signIn->close();
    replacePage(services.state->profiles->runProfile());
    activation.cancel();
    parent.release(this);
    // Every sign-in gets a new native window, as after a close. A window that is hidden and
    // shown again can come back under XWayland looking focused while the X input focus stays
    // on no window, so that every key is lost; a new window is mapped and focused as such.
    QWindow *native = windowHandle();
    if (native != nullptr && !showsFailure)
        native->destroy();
    services.state->profiles->keepStoredDataPrivate();
}

void AuthWindow::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    // The signal tells of the main frame alone: a failed sub-resource or frame stays the page's
    // business.
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
        return;
    // A silent sign-in's page ends it by itself (watchSilentSignIn), and shows nothing.
    if (silent)
        return;
    const std::optional<LoadFailureKind> kind = loadFailureKind(info.errorCode());
    if (!kind.has_value())
        return;
    const LoadFailure failure{*kind, info.url().host().toStdString(),
                              netErrorName(info.errorString().toStdString(), info.errorCode())};
    // The engine's error page stays beneath the view; a failure after the sign-in ended (its
    // time limit, say) shows nothing.
    if (endSignInWithLoadFailure(*services.state, failure))
        failureView->showFailure(failure);
}

void AuthWindow::onPopupCreated(AuthPage *popup)
{
    auto *window = new PopupWindow(popup, this, zoom.factor());
    connect(popup, &AuthPage::popupCreated, this, &AuthWindow::onPopupCreated);
    services.signIn->adopt(window);
    window->showOver(this);
}

void AuthWindow::closeEvent(QCloseEvent *event)
{
    {
        std::lock_guard<std::mutex> lock(services.state->mutex);
        services.state->completeNavigation(false, std::string(), "user_cancelled");
    }
    QMainWindow::closeEvent(event);
}

void warmSignInWindow(const PageServices &services)
{
    signInWindow(services)->warmUp();
}

void openSignInWindow(const PageServices &services, const SignInPage &page)
{
    signInWindow(services)->beginSignIn(page);
}

void hideSignInWindow(HelperState *state)
{
    if (state->window != nullptr)
        state->window->endSignIn();
}
