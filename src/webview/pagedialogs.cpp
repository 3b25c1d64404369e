#include "webview/pagedialogs.h"

#include "webview/dialogscheme.h"
#include "webview/passkeyrequests.h"
#include "webview/signinscope.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>

#include <memory>

namespace {

// Replies "1" followed by the prompt's text for an accepted dialog and "0" for a dismissed one.
// The replacement functions are defined as the page's own would be, so a page that replaces
// them again still can; the counter keeps two identical questions from being taken as one.
const char kScript[] = R"JS(
(function () {
    'use strict';
    var count = 0;
    function ask(kind, args) {
        var url = 'tavisk-dialog:' + kind + '?n=' + (++count)
            + '&message=' + encodeURIComponent(args.length > 0 ? String(args[0]) : '')
            + '&default=' + encodeURIComponent(args.length > 1 ? String(args[1]) : '');
        try {
            var request = new XMLHttpRequest();
            request.open('GET', url, false);
            request.send();
            var answer = request.responseText;
            return answer.charAt(0) === '1' ? answer.substring(1) : null;
        } catch (e) {
            return null;
        }
    }
    window.alert = function alert() { ask('alert', arguments); };
    window.confirm = function confirm() { return ask('confirm', arguments) !== null; };
    window.prompt = function prompt() { return ask('prompt', arguments); };
})();
)JS";

enum class DialogKind { Alert, Confirm, Prompt };

bool dialogKindOf(const QString &path, DialogKind *kind)
{
    if (path == QLatin1String("alert"))
        *kind = DialogKind::Alert;
    else if (path == QLatin1String("confirm"))
        *kind = DialogKind::Confirm;
    else if (path == QLatin1String("prompt"))
        *kind = DialogKind::Prompt;
    else
        return false;
    return true;
}

// Answers a dialog's request once; later calls do nothing. The job may already be gone when
// its page went away.
class DialogAnswer
{
public:
    explicit DialogAnswer(QWebEngineUrlRequestJob *job)
        : job(job)
    { }

    void give(bool accepted, const QString &text = QString())
    {
        if (given || job.isNull())
            return;
        given = true;
        answerWithText(job.data(),
                       accepted ? QByteArrayLiteral("1") + text.toUtf8() : QByteArrayLiteral("0"));
    }

private:
    QPointer<QWebEngineUrlRequestJob> job;
    bool given = false;
};

QDialog *makeDialog(DialogKind kind, const QString &message, const QString &defaultText,
                    QWidget *parent, const std::shared_ptr<DialogAnswer> &answer)
{
    if (kind == DialogKind::Prompt) {
        auto *input = new QInputDialog(parent);
        input->setLabelText(message);
        input->setTextValue(defaultText);
        QObject::connect(input, &QInputDialog::textValueSelected,
                         [answer](const QString &text) { answer->give(true, text); });
        return input;
    }
    auto *box = new QMessageBox(parent);
    box->setText(message);
    box->setTextFormat(Qt::PlainText);
    box->setStandardButtons(kind == DialogKind::Alert ? QMessageBox::Ok
                                                      : QMessageBox::Ok | QMessageBox::Cancel);
    QObject::connect(box, &QMessageBox::accepted, [answer] { answer->give(true); });
    return box;
}

} // namespace

QWebEngineScript pageDialogsScript()
{
    return everyFrameScript(QStringLiteral("tavisk-dialogs"), QString::fromUtf8(kScript));
}

PageDialogsHandler::PageDialogsHandler(SignInScope *signIn, SignInPasskeys *passkeys)
    : QWebEngineUrlSchemeHandler(nullptr)
    , signIn(signIn)
    , passkeys(passkeys)
{ }

PageDialogsHandler::~PageDialogsHandler() = default;

void PageDialogsHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    if (isPasskeyPath(job->requestUrl().path())) {
        passkeys->requestStarted(job);
        return;
    }
    auto answer = std::make_shared<DialogAnswer>(job);
    DialogKind kind = DialogKind::Alert;
    if (!dialogKindOf(job->requestUrl().path(), &kind) || !signIn->mayAsk("dialog")) {
        answer->give(false);
        return;
    }

    const QUrlQuery query(job->requestUrl());
    const QString message = query.queryItemValue(QStringLiteral("message"), QUrl::FullyDecoded);
    const QString defaultText = query.queryItemValue(QStringLiteral("default"), QUrl::FullyDecoded);
    QDialog *dialog = makeDialog(kind, message, defaultText, signIn->window(), answer);
    dialog->setWindowTitle(
        QCoreApplication::translate("PageDialogs", "%1 says", "a page's dialog, by its origin")
            .arg(askingSite(job)));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Whatever closes the dialog without an answer (Cancel, Escape, the window's close, the
    // end of the sign-in) dismisses it.
    QObject::connect(dialog, &QObject::destroyed, [answer] { answer->give(false); });
    dialog->setModal(false);
    signIn->ask(dialog);
}
