#include "webview/windowactivation.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QWidget>
#include <QWindow>
#include <QtGlobal>

namespace {

constexpr char kTokenVariable[] = "XDG_ACTIVATION_TOKEN";

// Holds a window's pending token and sends it once the window system has exposed the window.
// The expose is answered by painting and committing the first frame within the same event, so
// the request posted from there reaches the compositor after the window was mapped. The watch
// is on the whole application, only while a token is pending, so that it sees the expose of
// whichever QWindow the widget has by then. One per window, a child of it.
class ExposedActivation : public QObject
{
public:
    explicit ExposedActivation(QWidget *window)
        : QObject(window)
        , window(window)
    { }

    void setToken(const std::string &text)
    {
        token = text;
        if (token.empty())
            QCoreApplication::instance()->removeEventFilter(this);
        else
            QCoreApplication::instance()->installEventFilter(this);
    }

    // Posts the pending token's request now if the window is exposed already (as on platforms
    // that expose a window within show()).
    void postIfExposed()
    {
        if (!token.empty() && window->windowHandle() != nullptr
            && window->windowHandle()->isExposed())
            post();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && watched == window->windowHandle())
            postIfExposed();
        return false;
    }

private:
    void post()
    {
        QMetaObject::invokeMethod(
            this, [this, posted = token] { activate(posted); }, Qt::QueuedConnection);
        setToken(std::string());
    }

    void activate(const std::string &posted)
    {
        if (!window->isVisible())
            return;
        // Qt's Wayland platform reads the variable inside this very call and removes it once
        // used (setting and clearing it on this thread, as Qt itself does); other platforms
        // never read it, and it must not outlive the call there either.
        qputenv(kTokenVariable, QByteArray::fromStdString(posted));
        window->activateWindow();
        qunsetenv(kTokenVariable);
    }

    QWidget *const window;
    std::string token; // empty: nothing pending
};

ExposedActivation *activationOf(QWidget *window)
{
    // findChild would need a meta-object of its own; a plain type check does without one.
    for (QObject *child : window->children()) {
        if (auto *activation = dynamic_cast<ExposedActivation *>(child))
            return activation;
    }
    return new ExposedActivation(window);
}

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

void activateShownWindow(QWidget *window, const std::string &token)
{
    ExposedActivation *activation = activationOf(window);
    activation->setToken(token);
    if (token.empty())
        window->activateWindow();
    else
        activation->postIfExposed();
}

void cancelActivation(QWidget *window)
{
    activationOf(window)->setToken(std::string());
}
