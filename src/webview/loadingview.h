// What the window shows from the start of a sign-in until its first page paints.
#pragma once

#include <QWidget>

class QLabel;

// "Connecting to <host>…" over a busy progress bar, in place of a blank page. Takes neither
// focus nor keys: the page beneath it keeps the keyboard focus. Screen readers read its text
// and find a progress bar named "Loading". Lives on the GUI thread; the window that holds it
// shows and hides it.
class LoadingView : public QWidget
{
    Q_OBJECT

public:
    explicit LoadingView(QWidget *parent = nullptr);

    // Shows the view, telling that the helper is connecting to `host`.
    void showConnecting(const QString &host);

private:
    QLabel *const message;
};
