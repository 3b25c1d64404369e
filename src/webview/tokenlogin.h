// Opening the NSS token that holds a client certificate's key, with the PIN the person gives.
#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QString>

#include <memory>

// The web engine reads certificates through NSS, but brings no way to ask for a token's PIN: a
// key on a smart card, or in a database with a password, is out of its reach until the token
// has been opened in this process. NSS is one library shared with the engine, so a login made
// here serves the engine's next use of the key.

// A token that must be opened before its certificate's key can be used. GUI thread only.
struct TokenLogin {
    QString tokenName;          // the name the token gives itself, shown to the person
    std::shared_ptr<void> slot; // the token's NSS slot, released with the last copy; null: none
    bool needed() const { return slot != nullptr; }
};

// The token holding certificate that is still closed, or an empty TokenLogin when no token
// holding it asks for a PIN (or this build has no NSS, or the engine has not started NSS).
TokenLogin tokenLoginFor(const QSslCertificate &certificate);

// Offers pin to the token; true when it opened. Wipes pin in either case.
bool openToken(const TokenLogin &login, QByteArray &pin);
