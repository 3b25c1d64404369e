// The chooser a person answers when a site asks for a TLS client certificate.
#pragma once

#include <QDialog>
#include <QList>
#include <QSslCertificate>
#include <QWebEngineClientCertificateSelection>

#include "webview/tokenlogin.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// A non-modal dialog on top of the sign-in window for one request of the engine: the
// certificates the engine offers for the host, by name, the first one selected. Accepting it
// (Enter, "Continue", a double click) presents the selected certificate; rejecting it (Escape,
// "Continue without a certificate", closing it, or the end of its sign-in) presents none. When
// the certificate's key lies in a token that is closed (a smart card, a database with a
// password), accepting first asks for the token's PIN in the same dialog and presents the
// certificate once the PIN has opened it. It answers the engine exactly once and then deletes
// itself. Lives on the GUI thread; a child of the window that shows the page (the sign-in
// window, or a popup of the sign-in), and deleted by the end of the sign-in.
class CertificateChooser : public QDialog
{
    Q_OBJECT

public:
    CertificateChooser(const QWebEngineClientCertificateSelection &selection, QWidget *parent);
    ~CertificateChooser() override;

    void accept() override;
    void done(int result) override;

private:
    int selectedRow() const;
    void askForPin();
    void answer(bool present);

    QWebEngineClientCertificateSelection selection;
    const QList<QSslCertificate> certificates; // in the list's order, one row each
    QTreeWidget *list = nullptr;
    QPushButton *continueButton = nullptr;
    QLabel *pinPrompt = nullptr; // shown with pinEdit only while a PIN is asked for
    QLineEdit *pinEdit = nullptr;
    TokenLogin login; // the token the selected certificate waits for; empty: none
    bool answered = false;
};

// Runs on the GUI thread: a chooser for the request on top of parent, for the caller to show
// (it never waits in a nested event loop); deleting it presents no certificate. A request with
// no certificate to offer is answered with none at once, and nullptr returned.
CertificateChooser *certificateChooserFor(QWidget *parent,
                                          const QWebEngineClientCertificateSelection &selection);
