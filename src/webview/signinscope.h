// The sign-in in flight, as the parts that ask a person something see it.
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

// Whether a sign-in is open, the window its prompts sit on, and the widgets it owns besides
// (its popups, the prompts its pages open): those go when it ends, each unanswered prompt
// answering as dismissed. Every prompt that asks the person something joins the sign-in here,
// through ask() (or adopt(), for one that comes forward later by itself): this is the one
// place that knows a person is being asked. Made once by start-up for the whole
// run and handed to every part that needs it; it outlives the sign-in window. GUI thread only.
class SignInScope
{
public:
    SignInScope() = default;
    SignInScope(const SignInScope &) = delete;
    SignInScope &operator=(const SignInScope &) = delete;

    // A sign-in starts in `window`, which its prompts sit on.
    void open(QWidget *window);
    // The sign-in ends: deletes every widget it adopted that still exists.
    void close();

    bool isOpen() const { return signInWindow != nullptr; }
    // The window of the sign-in in flight; null when none is open.
    QWidget *window() const { return signInWindow; }

    // Makes `widget` part of the sign-in in flight: close() deletes it. Called only while a
    // sign-in is open.
    void adopt(QWidget *widget);
    // Adopts `prompt`, a question to the person, and brings it forward (shown, raised,
    // activated).
    void ask(QWidget *prompt);

private:
    QPointer<QWidget> signInWindow;
    QList<QPointer<QWidget>> widgets; // adopted, in order
};
