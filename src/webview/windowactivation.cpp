#include "webview/windowactivation.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QWidget>
#include <QWindow>
#include <QtGlobal>

namespace {

constexpr char kTokenVariable[] = "XDG_ACTIVATION_TOKEN";

} // namespace

std::string signInActivationToken(const std::string &requestToken)
{
    static bool startupTokenTaken = false; // GUI thread only
    std::string token = requestToken;
    if (!startupTokenTaken) {
        startupTokenTaken = true;
        const QByteArray startupToken = qgetenv(kTokenVariable);
        qunsetenv(kTokenVariable);
        if (token.empty())
            token = startupToken.toStdString();
    }
    return token;
}

WindowActivation::WindowActivation(QWidget *window)
    : window(window)
{ }

void WindowActivation::activateShown(const std::string &text)
{
    setToken(text);
    if (token.empty())
        window->activateWindow();
    else
        postIfExposed();
}

void WindowActivation::cancel()
{
    setToken(std::string());
}

void WindowActivation::setToken(const std::string &text)
{
    token = text;
    if (token.empty())
        QCoreApplication::instance()->removeEventFilter(this);
    else
        QCoreApplication::instance()->installEventFilter(this);
}

// Posts the pending token's request now if the window is exposed already (as on platforms that
// expose a window within show()).
void WindowActivation::postIfExposed()
{
    if (token.empty() || window->windowHandle() == nullptr || !window->windowHandle()->isExposed())
        return;
    QMetaObject::invokeMethod(
        this, [this, posted = token] { activate(posted); }, Qt::QueuedConnection);
    setToken(std::string());
}

bool WindowActivation::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && watched == window->windowHandle())
        postIfExposed();
    return false;
}

void WindowActivation::activate(const std::string &posted)
{
    if (!window->isVisible())
        return;
    // Qt's Wayland platform reads the variable inside this very call and removes it once used
    // (setting and clearing it on this thread, as Qt itself does); other platforms never read
    // it, and it must not outlive the call there either.
    qputenv(kTokenVariable, QByteArray::fromStdString(posted));
    window->activateWindow();
    qunsetenv(kTokenVariable);
}
