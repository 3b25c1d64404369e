#include "webview/pagezoom.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

#include <iterator>
#include <utility>

namespace {

// The zoom levels a browser steps through, as factors.
constexpr qreal kZoomSteps[]
    = {0.25, 0.33, 0.5, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0, 4.0, 5.0};

} // namespace

qreal nextZoom(qreal current, int direction)
{
    if (direction == 0)
        return 1.0;
    constexpr qreal kSlack = 0.001;
    if (direction > 0) {
        for (const qreal step : kZoomSteps) {
            if (step > current + kSlack)
                return step;
        }
        return current;
    }
    for (auto step = std::rbegin(kZoomSteps); step != std::rend(kZoomSteps); ++step) {
        if (*step < current - kSlack)
            return *step;
    }
    return current;
}

PageZoom::PageZoom(QWidget *window, qreal factor)
    : personsFactor(factor)
{
    const std::pair<QKeySequence, int> zoomKeys[] = {
        {QKeySequence::ZoomIn, 1},
        {QKeySequence(Qt::CTRL | Qt::Key_Equal), 1},
        {QKeySequence::ZoomOut, -1},
        {QKeySequence(Qt::CTRL | Qt::Key_0), 0},
    };
    for (const auto &[keys, direction] : zoomKeys) {
        auto *shortcut = new QShortcut(keys, window);
        QObject::connect(shortcut, &QShortcut::activated, window,
                         [this, direction = direction] { step(direction); });
    }
}

void PageZoom::setPage(QWebEnginePage *shown)
{
    if (!page.isNull())
        personsFactor = page->zoomFactor();
    page = shown;
    page->setZoomFactor(personsFactor);
}

void PageZoom::step(int direction)
{
    if (page.isNull())
        return;
    personsFactor = nextZoom(page->zoomFactor(), direction);
    page->setZoomFactor(personsFactor);
}
