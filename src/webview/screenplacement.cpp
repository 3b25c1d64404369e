#include "webview/screenplacement.h"

#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

bool frameKnown(const QWidget *window)
{
    const QWindow *native = window->windowHandle();
    return native != nullptr && !native->frameMargins().isNull();
}

} // namespace

QPoint topLeftInside(const QRect &room, const QRect &outer)
{
    return QPoint(qMax(room.left(), qMin(outer.left(), room.right() + 1 - outer.width())),
                  qMax(room.top(), qMin(outer.top(), room.bottom() + 1 - outer.height())));
}

void fitToScreen(QWidget *window)
{
    const QRect room = window->screen()->availableGeometry();
    const QMargins frame = frameKnown(window) ? window->windowHandle()->frameMargins() : QMargins();
    window->resize(QSize(800, 600).boundedTo(room.size().shrunkBy(frame)));
    const QRect outer = window->frameGeometry();
    if (!room.contains(outer))
        window->move(topLeftInside(room, outer));
}

void keepInsideScreenOnceFramed(QWidget *window)
{
    constexpr int kMostLooks = 40;
    constexpr int kLooksInsideToStop = 4;
    auto *timer = new QTimer(window);
    timer->setInterval(50);
    QObject::connect(
        timer, &QTimer::timeout, window, [window, timer, looks = 0, inside = 0]() mutable {
            if (!window->isVisible() || ++looks > kMostLooks) {
                timer->deleteLater();
                return;
            }
            if (!frameKnown(window))
                return;
            if (window->screen()->availableGeometry().contains(window->frameGeometry())) {
                if (++inside >= kLooksInsideToStop)
                    timer->deleteLater();
                return;
            }
            inside = 0;
            fitToScreen(window);
        });
    timer->start();
}
