#include "webview/credentialsprompt.h"

#include "webview/promptparts.h"

#include <QAuthenticator>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QString promptText(const CredentialsChallenge &challenge)
{
    QString text = challenge.proxy
        ? CredentialsPrompt::tr("The proxy %1 asks for your user name and password.")
              .arg(challenge.host)
        : CredentialsPrompt::tr("%1 asks for your user name and password.").arg(challenge.host);
    if (!challenge.realm.isEmpty())
        text += QLatin1Char('\n')
            + CredentialsPrompt::tr("It names itself \"%1\".").arg(challenge.realm);
    return text;
}

} // namespace

QString CredentialsChallenge::key() const
{
    return QStringList{proxy ? QStringLiteral("proxy") : QString(), host, realm}.join(
        QLatin1Char('\n'));
}

CredentialsChallenge serverChallenge(const QUrl &requestUrl, const QString &realm)
{
    // The port is shown unless it is the scheme's own: two services of one host are two
    // parties, each with its own password.
    QUrl shown = requestUrl;
    const int schemePort = requestUrl.scheme() == QLatin1String("https") ? 443
        : requestUrl.scheme() == QLatin1String("http")                   ? 80
                                                                         : -1;
    if (shown.port() == schemePort)
        shown.setPort(-1);
    shown.setUserInfo(QString());
    return {false, shown.authority(), realm};
}

CredentialsChallenge proxyChallenge(const ProxySettings &settings, const QString &proxyHost,
                                    const QString &realm)
{
    const std::string authority = proxyAuthority(settings, proxyHost.toStdString());
    return {true, QString::fromStdString(authority), realm};
}

CredentialsPrompt::CredentialsPrompt(const CredentialsChallenge &challenge, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(challenge.proxy ? tr("Proxy authentication required")
                                   : tr("Authentication required"));

    QLabel *prompt = plainTextLabel(promptText(challenge));
    QLabel *refused
        = plainTextLabel(tr("The last user name and password were refused. Try again."));
    refused->setVisible(challenge.lastRefused);

    // Each field is named by its label (the buddy), which is what a screen reader reads.
    userEdit = new QLineEdit;
    passwordEdit = new QLineEdit;
    passwordEdit->setEchoMode(QLineEdit::Password);
    userEdit->setAccessibleName(tr("User name"));
    passwordEdit->setAccessibleName(tr("Password"));
    auto *fields = new QFormLayout;
    fields->addRow(tr("&User name:"), userEdit);
    fields->addRow(tr("&Password:"), passwordEdit);

    // Enter in either field presses "Sign in".
    const PromptButtons buttons = promptButtons(this, tr("Sign in"));
    buttons.box->addButton(QDialogButtonBox::Cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(refused);
    layout->addLayout(fields);
    layout->addWidget(buttons.box);
    resize(420, sizeHint().height());
    userEdit->setFocus();
}

CredentialsPrompt::~CredentialsPrompt()
{
    // The password stays in no widget longer than the prompt is up.
    passwordEdit->clear();
}

QString CredentialsPrompt::userName() const
{
    return userEdit->text();
}

QString CredentialsPrompt::password() const
{
    return passwordEdit->text();
}

void answerChallenge(CredentialsPrompt *prompt, QAuthenticator *authenticator)
{
    QPointer<CredentialsPrompt> alive(prompt);
    QEventLoop loop;
    QObject::connect(prompt, &QDialog::finished, &loop, &QEventLoop::quit);
    QObject::connect(prompt, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    if (!alive.isNull() && alive->result() == QDialog::Accepted) {
        authenticator->setUser(alive->userName());
        authenticator->setPassword(alive->password());
    } else {
        // A null authenticator is the engine's "cancelled": it shows the server's own page.
        *authenticator = QAuthenticator();
    }
    delete alive.data();
}
