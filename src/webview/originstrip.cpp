#include "webview/originstrip.h"

#include "signin/siteorigin.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QProgressBar>
#include <QUrl>

namespace {

// A closed padlock drawn in the strip's text colour; no icon theme is needed, and none may be
// installed where the helper runs.
QPixmap padlockPixmap(const QColor &colour, qreal devicePixelRatio)
{
    const QSize size(12, 14);
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 1.6));
    painter.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    shackle.moveTo(3.2, 7);
    shackle.lineTo(3.2, 4.6);
    shackle.arcTo(QRectF(3.2, 1, 5.6, 6), 180, -180);
    shackle.lineTo(8.8, 7);
    painter.drawPath(shackle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(1, 6.5, 10, 7.5), 1.5, 1.5);
    return pixmap;
}

} // namespace

OriginStrip::OriginStrip(QWidget *parent)
    : QWidget(parent)
    , padlock(new QLabel(this))
    , notSecure(new QLabel(tr("Not secure"), this))
    , host(new QLabel(this))
    , progress(new QProgressBar(this))
{
    setAccessibleName(tr("Site"));
    setFocusPolicy(Qt::NoFocus);
    // A row set apart from the page, in the colours of the window around it.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    padlock->setPixmap(padlockPixmap(palette().color(QPalette::WindowText), devicePixelRatioF()));
    padlock->setAccessibleName(tr("Secure connection"));
    padlock->setToolTip(tr("Secure connection"));

    QFont small = notSecure->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    notSecure->setFont(small);
    notSecure->setForegroundRole(QPalette::PlaceholderText);

    // Rich text only for the bold part; the host itself is escaped, and read out as plain text.
    host->setTextFormat(Qt::RichText);
    host->setTextInteractionFlags(Qt::NoTextInteraction);

    progress->setRange(0, 100);
    progress->setTextVisible(false);
    progress->setFixedSize(96, 6);
    progress->setAccessibleName(tr("Loading"));
    progress->hide();

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(8, 3, 8, 3);
    row->setSpacing(6);
    row->addWidget(padlock);
    row->addWidget(notSecure);
    row->addWidget(host);
    row->addStretch(1);
    row->addWidget(progress);
}

void OriginStrip::showSite(const QUrl &url)
{
    const SiteOrigin site = siteOriginOf(url);
    padlock->setVisible(site.connection == SiteOrigin::Connection::Secure);
    notSecure->setVisible(site.connection == SiteOrigin::Connection::NotSecure);
    const QString leading = site.host.left(site.registrableStart);
    const QString registrable = site.host.mid(site.registrableStart);
    host->setText(leading.toHtmlEscaped() + QStringLiteral("<b>") + registrable.toHtmlEscaped()
                  + QStringLiteral("</b>"));
    host->setAccessibleName(site.host);
}

void OriginStrip::showProgress(int percent)
{
    progress->setValue(qBound(0, percent, 100));
    progress->show();
}

void OriginStrip::hideProgress()
{
    progress->hide();
}
