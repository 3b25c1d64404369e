// What the two users of the "tavisk-dialog" scheme share: the page dialogs and the passkey
// requests each install a script in every frame that asks the helper through the scheme, and
// the helper answers each request with a line of text.
#pragma once

#include <QByteArray>
#include <QString>
#include <QWebEngineScript>

class QWebEngineUrlRequestJob;

// `source`, run in the page's own world in every frame as each document is created, before the
// page's scripts can take the functions it replaces.
QWebEngineScript everyFrameScript(const QString &name, const QString &source);

// Answers `job` with `text`; a job that is already gone (its page went away) is left alone.
void answerWithText(QWebEngineUrlRequestJob *job, const QByteArray &text);

// Who asks, as a prompt names it: the host of the page that made the request, or its whole
// origin when it has no host.
QString askingSite(const QWebEngineUrlRequestJob *job);
