// A sign-in page as every window of a sign-in shows it: its view under the origin strip.
#pragma once

#include <QWidget>

class OriginStrip;
class QWebEnginePage;
class QWebEngineView;

// `view` (inside `content`, which is the view itself or a widget holding it) under an origin
// strip that follows every navigation of the page shown and its loads' progress. The view's
// context menu offers only editing. Lives on the GUI thread; the window that holds it gives it
// its pages.
class PageFrame : public QWidget
{
    Q_OBJECT

public:
    PageFrame(QWebEngineView *view, QWidget *content, QWidget *parent);

    // Shows `page` in the view; the strip follows it from now on.
    void showPage(QWebEnginePage *page);
    OriginStrip *strip() const { return originStrip; }

private:
    QWebEngineView *const view;
    OriginStrip *const originStrip;
};
