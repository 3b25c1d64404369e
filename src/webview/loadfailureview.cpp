#include "webview/loadfailureview.h"

#include "signin/loadfailure.h"

#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

QLabel *plainLabel(QWidget *parent)
{
    // Hosts and error names come from the network: plain text, never markup.
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QString headingFor(const LoadFailure &failure, const QString &host)
{
    switch (failure.kind) {
    case LoadFailureKind::Certificate:
        return LoadFailureView::tr("The connection to %1 is not secure").arg(host);
    case LoadFailureKind::Proxy:
        return LoadFailureView::tr("Cannot reach %1 through the proxy").arg(host);
    case LoadFailureKind::Network:
        break;
    }
    return LoadFailureView::tr("Cannot reach %1").arg(host);
}

QString explanationFor(const LoadFailure &failure)
{
    const std::string &error = failure.error;
    switch (failure.kind) {
    case LoadFailureKind::Certificate:
        if (error == "ERR_CERT_AUTHORITY_INVALID")
            return LoadFailureView::tr(
                "The site's certificate comes from an authority this computer does not trust. "
                "If your organisation uses its own certificate authority, your administrator "
                "can install it on this computer.");
        if (error == "ERR_CERT_DATE_INVALID")
            return LoadFailureView::tr("The site's certificate has expired or is not valid yet. "
                                       "Check that this computer's date and time are right.");
        if (error == "ERR_CERT_COMMON_NAME_INVALID")
            return LoadFailureView::tr("The site's certificate was made out for another name.");
        return LoadFailureView::tr("The site's certificate is not valid.");
    case LoadFailureKind::Proxy:
        return LoadFailureView::tr(
            "The proxy server refused the connection or could not be reached, or its sign-in "
            "was cancelled. Check the proxy settings, or ask your administrator.");
    case LoadFailureKind::Network:
        break;
    }
    if (error == "ERR_NAME_NOT_RESOLVED" || error == "ERR_NAME_RESOLUTION_FAILED")
        return LoadFailureView::tr("The server's name could not be found. Check the network "
                                   "connection.");
    if (error == "ERR_CONNECTION_REFUSED")
        return LoadFailureView::tr("The server refused the connection.");
    if (error == "ERR_TIMED_OUT" || error == "ERR_CONNECTION_TIMED_OUT")
        return LoadFailureView::tr("The server did not answer in time.");
    if (error == "ERR_INTERNET_DISCONNECTED" || error == "ERR_ADDRESS_UNREACHABLE")
        return LoadFailureView::tr("This computer cannot reach the server. Check the network "
                                   "connection.");
    if (error.rfind("ERR_SSL_", 0) == 0)
        return LoadFailureView::tr("A secure connection to the server could not be made.");
    return LoadFailureView::tr("The connection to the server failed.");
}

} // namespace

LoadFailureView::LoadFailureView(QWidget *parent)
    : QWidget(parent)
    , heading(plainLabel(this))
    , explanation(plainLabel(this))
    , errorName(plainLabel(this))
    , closeButton(new QPushButton(tr("Close"), this))
{
    // It stands in for the page, as the loading view does.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);

    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    heading->setFont(bold);
    errorName->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    closeButton->setDefault(true);
    connect(closeButton, &QPushButton::clicked, this, &LoadFailureView::closeRequested);
    auto *escape = new QShortcut(QKeySequence::Cancel, this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &LoadFailureView::closeRequested);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(48, 24, 48, 24);
    column->addStretch(1);
    column->addWidget(heading);
    column->addSpacing(12);
    column->addWidget(explanation);
    column->addSpacing(12);
    column->addWidget(errorName);
    column->addSpacing(18);
    column->addWidget(closeButton, 0, Qt::AlignHCenter);
    column->addStretch(2);
}

void LoadFailureView::showFailure(const LoadFailure &failure)
{
    const QString host = QString::fromStdString(failure.host);
    heading->setText(headingFor(failure, host));
    setAccessibleName(heading->text());
    explanation->setText(explanationFor(failure));
    errorName->setText(
        tr("Error for your administrator: %1").arg(QString::fromStdString(failure.error)));
    show();
    raise();
    closeButton->setFocus();
}
