// The sign-in in flight as the window's parts see it: what it owns goes when it ends, and
// nothing of one sign-in reaches the next. Runs on the offscreen platform.

#include "signin/helperstate.h"
#include "webview/signinscope.h"

#include <QPointer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

TEST(SignInScopeTest, OpenUntilClosedOnTheWindowItWasOpenedIn)
{
    QWidget window;
    SignInScope scope;
    EXPECT_FALSE(scope.isOpen());
    EXPECT_EQ(scope.window(), nullptr);
    scope.open(&window);
    EXPECT_TRUE(scope.isOpen());
    EXPECT_EQ(scope.window(), &window);
    scope.close();
    EXPECT_FALSE(scope.isOpen());
    EXPECT_EQ(scope.window(), nullptr);
}

TEST(SignInScopeTest, ClosingDeletesWhatTheSignInAdoptedAndNothingElse)
{
    QWidget window;
    QWidget bystander(&window);
    SignInScope scope;
    scope.open(&window);
    const QPointer<QWidget> popup = new QWidget(&window, Qt::Window);
    const QPointer<QWidget> prompt = new QWidget(&window, Qt::Dialog);
    // One closed by the person before the sign-in ends is already gone.
    const QPointer<QWidget> dismissed = new QWidget(&window, Qt::Dialog);
    scope.adopt(popup);
    scope.ask(prompt);
    scope.ask(dismissed);
    EXPECT_TRUE(prompt->isVisible());
    delete dismissed.data();

    scope.close();
    EXPECT_TRUE(popup.isNull());
    EXPECT_TRUE(prompt.isNull());
    EXPECT_EQ(bystander.parent(), &window);

    // The next sign-in starts with nothing of the last one.
    scope.open(&window);
    const QPointer<QWidget> next = new QWidget(&window, Qt::Dialog);
    scope.adopt(next);
    scope.close();
    EXPECT_TRUE(next.isNull());
}

TEST(SignInScopeTest, AWidgetThatDeletesAnotherOnItsWayOutIsNotDeletedTwice)
{
    // A popup's prompt is adopted after the popup and is the popup's child: deleting the popup
    // takes the prompt with it before the prompt's turn comes.
    QWidget window;
    SignInScope scope;
    scope.open(&window);
    auto *popup = new QWidget(&window, Qt::Window);
    const QPointer<QWidget> prompt = new QWidget(popup, Qt::Dialog);
    scope.adopt(popup);
    scope.ask(prompt);
    scope.close();
    EXPECT_TRUE(prompt.isNull());
}

TEST(SignInScopeTest, OnlyAnOpenSignInThatIsNotSilentMayAskAndASilentOneEndsThere)
{
    struct Case {
        const char *name;
        bool open;
        bool silent;
        bool mayAsk;
        bool ended; // with "interaction_required" and the reason
    };
    const Case cases[] = {
        {"shown", true, false, true, false},
        {"silent", true, true, false, true},
        {"no sign-in open", false, false, false, false},
        {"no sign-in open after a silent one", false, true, false, false},
    };
    for (const Case &c : cases) {
        HelperState state;
        NavigationWait wait;
        state.activeWait = &wait;
        state.silent = c.silent;
        QWidget window;
        SignInScope scope(&state);
        if (c.open)
            scope.open(&window);
        EXPECT_EQ(scope.mayAsk("dialog"), c.mayAsk) << c.name;
        EXPECT_EQ(wait.done, c.ended) << c.name;
        if (c.ended) {
            EXPECT_EQ(wait.message, "interaction_required") << c.name;
            EXPECT_EQ(wait.data, (FailureData{{"reason", "dialog"}})) << c.name;
        }
    }
}

} // namespace
