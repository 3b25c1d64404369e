#include "webview/signinscope.h"

#include "signin/silentsignin.h"
#include "webview/promptparts.h"

#include <utility>

void SignInScope::open(QWidget *window)
{
    signInWindow = window;
}

void SignInScope::close()
{
    signInWindow = nullptr;
    // Deleting one widget may delete others adopted after it (a popup's own prompts): each is
    // looked at only when its turn comes.
    const QList<QPointer<QWidget>> adopted = std::exchange(widgets, {});
    for (const QPointer<QWidget> &widget : adopted)
        delete widget.data();
}

bool SignInScope::mayAsk(const char *reason)
{
    return isOpen() && (state == nullptr || !endSilentSignIn(*state, reason));
}

void SignInScope::adopt(QWidget *widget)
{
    widgets.append(widget);
}

void SignInScope::ask(QWidget *prompt)
{
    adopt(prompt);
    bringForward(prompt);
}
