// What the window shows in place of a sign-in's page that could not be loaded.
#pragma once

#include <QWidget>

struct LoadFailure;
class QLabel;
class QPushButton;

// The helper's own account of a failed load, in the person's language: what went wrong with
// which host in plain words, what to do, and the engine's name of the error to pass to an
// administrator (selectable, so that it can be copied). Its one button, "Close", closes the
// window; nothing offers to go on, least of all past an untrusted certificate. Screen readers
// find it as a panel named by its heading. Lives on the GUI thread; the window that holds it
// shows it over the page and hides it when the next sign-in begins.
class LoadFailureView : public QWidget
{
    Q_OBJECT

public:
    explicit LoadFailureView(QWidget *parent = nullptr);

    // Shows the view over the page, telling about `failure`, with the keyboard focus on "Close".
    void showFailure(const LoadFailure &failure);

Q_SIGNALS:
    // The person pressed "Close".
    void closeRequested();

private:
    QLabel *const heading;
    QLabel *const explanation;
    QLabel *const errorName;
    QPushButton *const closeButton;
};
