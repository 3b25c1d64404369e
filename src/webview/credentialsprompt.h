// The prompt a person answers when a server or a proxy asks for a user name and password.
#pragma once

#include "engine/proxysettings.h"

#include <QDialog>
#include <QString>

class QAuthenticator;
class QUrl;
class QLabel;
class QLineEdit;

// Who asks: a server (its host and the realm it names) or a proxy (its host, with the port
// when the helper's proxy settings name it).
struct CredentialsChallenge {
    bool proxy = false;
    QString host;
    QString realm;
    // The answer given to the same challenge a moment ago was refused.
    bool lastRefused = false;

    // Equal for the same asker (server or proxy, host, realm), whatever lastRefused says.
    QString key() const;
};

// The challenge of the server of `requestUrl`, named by its host and, unless it is the
// scheme's own, its port.
CredentialsChallenge serverChallenge(const QUrl &requestUrl, const QString &realm);
// The challenge of the proxy `proxyHost`, which the engine names without its port: the port
// is taken from `settings`, when they name that host.
CredentialsChallenge proxyChallenge(const ProxySettings &settings, const QString &proxyHost,
                                    const QString &realm);

// A non-modal dialog on top of the sign-in window for one challenge of the engine: who asks,
// a user name and a masked password, "Sign in" (Enter) and "Cancel" (Escape). The user name
// has the keyboard focus when it appears. Lives on the GUI thread; a child of the window that
// shows the page, and deleted by the end of the sign-in.
class CredentialsPrompt : public QDialog
{
    Q_OBJECT

public:
    CredentialsPrompt(const CredentialsChallenge &challenge, QWidget *parent);
    ~CredentialsPrompt() override;

    QString userName() const;
    QString password() const;

private:
    QLineEdit *userEdit = nullptr;
    QLineEdit *passwordEdit = nullptr;
};

// Runs on the GUI thread, from inside the engine's challenge signal, once `prompt` is shown: waits,
// in a local event loop, until the person answers it or it is deleted (its sign-in ended). An
// answer fills `authenticator`; anything else makes it null, which the engine reads as
// cancelled. The engine asks for the answer before the signal returns and sends nothing
// meanwhile: that is what keeps it from answering with made-up credentials. Deletes the
// prompt once answered.
void answerChallenge(CredentialsPrompt *prompt, QAuthenticator *authenticator);
