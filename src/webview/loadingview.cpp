#include "webview/loadingview.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

LoadingView::LoadingView(QWidget *parent)
    : QWidget(parent)
    , message(new QLabel(this))
{
    setAccessibleName(tr("Loading"));
    setFocusPolicy(Qt::NoFocus);
    // It stands in for the page: opaque, in the page's usual white rather than the window's grey.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);

    // The host comes from the client's URL: plain text, never markup.
    message->setTextFormat(Qt::PlainText);
    message->setAlignment(Qt::AlignCenter);
    message->setWordWrap(true);

    auto *busy = new QProgressBar(this);
    busy->setRange(0, 0); // no measure yet: the bar moves to and fro
    busy->setTextVisible(false);
    busy->setFixedSize(180, 8);
    busy->setAccessibleName(tr("Loading"));

    auto *column = new QVBoxLayout(this);
    column->addStretch(1);
    column->addWidget(message);
    column->addSpacing(12);
    column->addWidget(busy, 0, Qt::AlignHCenter);
    column->addStretch(2);
}

void LoadingView::showConnecting(const QString &host)
{
    message->setText(tr("Connecting to %1…").arg(host));
    show();
    raise();
}
