// The person's zoom of a sign-in page, by the keys a browser uses.
#pragma once

#include <QPointer>
#include <QWebEnginePage>

class QWidget;

// The factor one zoom step from `current` in `direction`: +1 the next larger of the steps a
// browser offers, -1 the next smaller, 0 back to 100%. From a factor between two steps (the
// wheel's), the next step that way; past the last step, `current` itself.
qreal nextZoom(qreal current, int direction);

// Ctrl+plus, Ctrl+minus and Ctrl+0 anywhere in a window zoom the page it shows one step in,
// one step out, or back to 100%. The page takes none of the keys for itself; Ctrl+= is
// Ctrl+plus without Shift, as in browsers. GUI thread only; a member of the window.
class PageZoom
{
public:
    // The person's zoom starts at `factor`.
    explicit PageZoom(QWidget *window, qreal factor = 1.0);
    PageZoom(const PageZoom &) = delete;
    PageZoom &operator=(const PageZoom &) = delete;

    // The keys zoom `page` from now on, which starts at the person's zoom. The zoom the last
    // page had (Ctrl+wheel zooms inside the engine too) carries over as the person's.
    void setPage(QWebEnginePage *page);
    // The person's zoom: the last the keys chose, or the last page's as it was replaced.
    qreal factor() const { return personsFactor; }

private:
    void step(int direction);

    QPointer<QWebEnginePage> page;
    qreal personsFactor;
};
