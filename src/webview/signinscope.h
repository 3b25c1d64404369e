// The sign-in in flight, as the parts that ask a person something see it.
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

struct HelperState;

// Whether a sign-in is open, the window its prompts sit on, and the widgets it owns besides
// (its popups, the prompts its pages open): those go when it ends, each unanswered prompt
// answering as dismissed. Every prompt that asks the person something joins the sign-in here,
// through ask() (or adopt(), for one that comes forward later by itself): this is the one
// place that knows a person is being asked, and mayAsk() the one place that tells whether one
// may be: a silent sign-in ends there instead. Made once by start-up for the whole run and
// handed to every part that needs it; it outlives the sign-in window. GUI thread only.
class SignInScope
{
public:
    // `state` tells whether the sign-in in flight is silent; null: none ever is.
    explicit SignInScope(HelperState *state = nullptr)
        : state(state)
    { }
    SignInScope(const SignInScope &) = delete;
    SignInScope &operator=(const SignInScope &) = delete;

    // A sign-in starts in `window`, which its prompts sit on.
    void open(QWidget *window);
    // The sign-in ends: deletes every widget it adopted that still exists.
    void close();

    bool isOpen() const { return signInWindow != nullptr; }
    // The window of the sign-in in flight; null when none is open.
    QWidget *window() const { return signInWindow; }
    // True when the sign-in in flight may ask the person about `reason` (signin/silentsignin.h):
    // it is open and not silent. A silent one ends here with "interaction_required", and the
    // caller declines what was asked without showing anything.
    bool mayAsk(const char *reason);

    // Makes `widget` part of the sign-in in flight: close() deletes it. Called only while a
    // sign-in is open.
    void adopt(QWidget *widget);
    // Adopts `prompt`, a question to the person, and brings it forward (shown, raised,
    // activated).
    void ask(QWidget *prompt);

private:
    HelperState *const state;
    QPointer<QWidget> signInWindow;
    QList<QPointer<QWidget>> widgets; // adopted, in order
};
