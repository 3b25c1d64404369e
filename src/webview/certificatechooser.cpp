#include "webview/certificatechooser.h"

#include "webview/promptparts.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString dateText(const QDateTime &time)
{
    // ISO dates read the same in every locale and sort as text.
    return time.toUTC().date().toString(Qt::ISODate);
}

QString serialText(const QSslCertificate &certificate)
{
    return QString::fromLatin1(certificate.serialNumber());
}

// The engine's own order differs between its versions; the person gets one that does not: by
// name, and of two with one name the one valid longest first.
QList<QSslCertificate> listOrder(QList<QSslCertificate> certificates)
{
    std::stable_sort(certificates.begin(), certificates.end(),
                     [](const QSslCertificate &a, const QSslCertificate &b) {
                         const int byName = QString::localeAwareCompare(a.subjectDisplayName(),
                                                                        b.subjectDisplayName());
                         return byName != 0 ? byName < 0 : a.expiryDate() > b.expiryDate();
                     });
    return certificates;
}

} // namespace

CertificateChooser::CertificateChooser(const QWebEngineClientCertificateSelection &selection,
                                       QWidget *parent)
    : QDialog(parent)
    , selection(selection)
    , certificates(listOrder(selection.certificates()))
{
    setWindowTitle(tr("Choose a certificate"));

    // The engine gives the host as a URL with no scheme; its authority is host and port. Plain
    // text: the host comes from the network.
    QLabel *prompt = plainTextLabel(
        tr("%1 asks for a certificate to identify you. Present the selected one, or continue "
           "without a certificate.")
            .arg(selection.host().authority()));

    list = new QTreeWidget;
    list->setColumnCount(3);
    list->setHeaderLabels({tr("Issued to"), tr("Issued by"), tr("Valid")});
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const QSslCertificate &certificate : certificates) {
        auto *row = new QTreeWidgetItem(
            {certificate.subjectDisplayName(), certificate.issuerDisplayName(),
             tr("%1 to %2", "a certificate's validity, from one date to another")
                 .arg(dateText(certificate.effectiveDate()), dateText(certificate.expiryDate()))});
        // Two certificates may carry the same name; the serial number tells them apart.
        row->setToolTip(0, tr("Serial number %1").arg(serialText(certificate)));
        list->addTopLevelItem(row);
    }
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    if (list->topLevelItemCount() > 0)
        list->setCurrentItem(list->topLevelItem(0));

    // Enter in the list presses the default button: the selected certificate is presented.
    const PromptButtons buttons = promptButtons(this, tr("Continue"));
    continueButton = buttons.accept;
    buttons.box->addButton(tr("Continue without a certificate"), QDialogButtonBox::RejectRole);
    continueButton->setEnabled(list->currentItem() != nullptr);

    connect(list, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(list, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { continueButton->setEnabled(current != nullptr); });

    pinPrompt = plainTextLabel();
    pinEdit = new QLineEdit;
    pinEdit->setEchoMode(QLineEdit::Password);
    pinPrompt->setBuddy(pinEdit);
    pinPrompt->hide();
    pinEdit->hide();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(list);
    layout->addWidget(pinPrompt);
    layout->addWidget(pinEdit);
    layout->addWidget(buttons.box);
    resize(600, 280);
    // The list holds the focus, so that arrow keys move the selection from the start.
    list->setFocus();
}

CertificateChooser::~CertificateChooser()
{
    // Deleted unanswered by the end of its sign-in, or with the window it sits on; the page
    // then goes on without a certificate.
    answer(false);
}

int CertificateChooser::selectedRow() const
{
    const int row = list->indexOfTopLevelItem(list->currentItem());
    return row >= 0 && row < certificates.size() ? row : -1;
}

void CertificateChooser::accept()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    if (!login.needed()) {
        login = tokenLoginFor(certificates.at(row));
        if (login.needed()) {
            askForPin();
            return;
        }
    } else {
        QByteArray pin = pinEdit->text().toUtf8();
        pinEdit->clear();
        if (!openToken(login, pin)) {
            pinPrompt->setText(tr("That PIN did not open \"%1\". Try again, or continue "
                                  "without a certificate.")
                                   .arg(login.tokenName));
            pinEdit->setFocus();
            return;
        }
    }
    QDialog::accept();
}

void CertificateChooser::askForPin()
{
    // The choice is made; only the PIN is asked for now, for that certificate's token.
    pinPrompt->setText(
        tr("Enter the PIN or password of \"%1\", which holds this certificate's key.")
            .arg(login.tokenName));
    pinPrompt->show();
    pinEdit->show();
    pinEdit->setFocus();
    list->setEnabled(false);
}

void CertificateChooser::done(int result)
{
    answer(result == QDialog::Accepted);
    QDialog::done(result);
    deleteLater();
}

void CertificateChooser::answer(bool present)
{
    if (answered)
        return;
    answered = true;
    const int row = selectedRow();
    if (present && row >= 0)
        selection.select(certificates.at(row));
    else
        selection.selectNone();
}

CertificateChooser *certificateChooserFor(QWidget *parent,
                                          const QWebEngineClientCertificateSelection &selection)
{
    if (selection.certificates().isEmpty()) {
        // Nothing to choose from; presenting none never identifies the person.
        QWebEngineClientCertificateSelection(selection).selectNone();
        return nullptr;
    }
    return new CertificateChooser(selection, parent);
}
