#include "webview/dialogscheme.h"

#include <QBuffer>
#include <QUrl>
#include <QWebEngineUrlRequestJob>

QWebEngineScript everyFrameScript(const QString &name, const QString &source)
{
    QWebEngineScript script;
    script.setName(name);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(source);
    return script;
}

void answerWithText(QWebEngineUrlRequestJob *job, const QByteArray &text)
{
    if (job == nullptr)
        return;
    auto *body = new QBuffer(job);
    body->setData(text);
    body->open(QIODevice::ReadOnly);
    job->reply(QByteArrayLiteral("text/plain;charset=utf-8"), body);
}

QString askingSite(const QWebEngineUrlRequestJob *job)
{
    const QUrl origin = job->initiator();
    return origin.host().isEmpty() ? origin.toString() : origin.host();
}
