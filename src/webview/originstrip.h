// The slim row above the page that tells the person whose site they are on.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QUrl;

// Shows the host of the page with its registrable domain in bold, a padlock for https or the
// words "Not secure" for plain http, and a thin progress bar while a page loads. Read-only:
// nothing in it takes the focus or a click. Screen readers read its labels as text outside the
// page. Lives on the GUI thread; the window that holds it feeds it.
class OriginStrip : public QWidget
{
    Q_OBJECT

public:
    explicit OriginStrip(QWidget *parent = nullptr);

    // Shows the site of `url`.
    void showSite(const QUrl &url);
    // Shows the progress bar at `percent` (0 to 100).
    void showProgress(int percent);
    void hideProgress();

private:
    QLabel *const padlock;
    QLabel *const notSecure;
    QLabel *const host;
    QProgressBar *const progress;
};
