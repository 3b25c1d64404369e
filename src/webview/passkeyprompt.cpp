#include "webview/passkeyprompt.h"

#include "webview/promptparts.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString messageText(const PasskeyStep &step)
{
    switch (step.kind) {
    case PasskeyStep::Kind::Waiting:
        return PasskeyPrompt::tr("%1 asks for a passkey or a security key. Insert your security "
                                 "key and touch it, or press Escape to decline.")
            .arg(step.site);
    case PasskeyStep::Kind::ChooseAccount:
        return PasskeyPrompt::tr("Your security key holds several accounts for %1. Choose one "
                                 "and press Enter, or press Escape to decline.")
            .arg(step.site);
    case PasskeyStep::Kind::EnterPin:
        return step.newPin
            ? PasskeyPrompt::tr("Choose a new PIN for your security key and press Enter, or "
                                "press Escape to decline.")
            : PasskeyPrompt::tr("Enter the PIN of your security key and press Enter, or press "
                                "Escape to decline.");
    case PasskeyStep::Kind::TouchKey:
        return PasskeyPrompt::tr("Touch your security key to sign in to %1, or press Escape to "
                                 "decline.")
            .arg(step.site);
    case PasskeyStep::Kind::Failed:
        return PasskeyPrompt::tr("The security key could not sign you in to %1.").arg(step.site);
    }
    return QString();
}

QString pinDetailText(const PasskeyStep &step)
{
    QStringList lines;
    if (!step.problem.isEmpty())
        lines.append(step.problem);
    if (step.attemptsLeft >= 0)
        lines.append(PasskeyPrompt::tr("%n attempt(s) left before the key locks.", nullptr,
                                       step.attemptsLeft));
    if (step.minPinLength > 0)
        lines.append(
            PasskeyPrompt::tr("The PIN has at least %n character(s).", nullptr, step.minPinLength));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

PasskeyPrompt::PasskeyPrompt(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Security key"));
    message = plainTextLabel();
    accounts = new QListWidget;
    accounts->setAccessibleName(tr("Accounts"));
    accounts->setSelectionMode(QAbstractItemView::SingleSelection);
    // Enter reaches the default button; a double click chooses too.
    connect(accounts, &QListWidget::itemDoubleClicked, this, &PasskeyPrompt::accept);

    pinEdit = new QLineEdit;
    pinEdit->setEchoMode(QLineEdit::Password);
    pinEdit->setAccessibleName(tr("PIN"));
    pinLabel = new QLabel(tr("&PIN:"));
    pinLabel->setBuddy(pinEdit);
    problem = plainTextLabel();

    // Enter in the PIN field presses "Continue".
    const PromptButtons buttons = promptButtons(this, tr("Continue"));
    continueButton = buttons.accept;
    retryButton = buttons.box->addButton(tr("Try again"), QDialogButtonBox::ActionRole);
    cancelButton = buttons.box->addButton(QDialogButtonBox::Cancel);
    connect(retryButton, &QPushButton::clicked, this, &PasskeyPrompt::retryRequested);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(message);
    layout->addWidget(accounts);
    layout->addWidget(pinLabel);
    layout->addWidget(pinEdit);
    layout->addWidget(problem);
    layout->addWidget(buttons.box);
    showStep(PasskeyStep());
    resize(440, sizeHint().height());
}

PasskeyPrompt::~PasskeyPrompt()
{
    // The PIN stays in no widget longer than the prompt is up.
    pinEdit->clear();
}

void PasskeyPrompt::showStep(const PasskeyStep &next)
{
    step = next;
    const bool choose = step.kind == PasskeyStep::Kind::ChooseAccount;
    const bool pin = step.kind == PasskeyStep::Kind::EnterPin;
    const bool failed = step.kind == PasskeyStep::Kind::Failed;

    message->setText(messageText(step));
    // A screen reader reads the description when the dialog or its focus changes.
    setAccessibleDescription(message->text());

    accounts->clear();
    accounts->addItems(step.accounts);
    if (accounts->count() > 0)
        accounts->setCurrentRow(0);
    accounts->setVisible(choose);

    pinEdit->clear();
    pinLabel->setVisible(pin);
    pinEdit->setVisible(pin);

    problem->setText(pin ? pinDetailText(step) : step.problem);
    problem->setVisible(!problem->text().isEmpty());

    continueButton->setVisible(choose || pin);
    retryButton->setVisible(failed);
    cancelButton->setText(failed ? tr("Close") : tr("Cancel"));

    if (choose)
        accounts->setFocus();
    else if (pin)
        pinEdit->setFocus();
    else
        cancelButton->setFocus();
}

void PasskeyPrompt::accept()
{
    // The dialog stays up: what follows the request decides what it shows next.
    if (step.kind == PasskeyStep::Kind::ChooseAccount && accounts->currentItem() != nullptr) {
        Q_EMIT accountChosen(accounts->currentItem()->text());
    } else if (step.kind == PasskeyStep::Kind::EnterPin && !pinEdit->text().isEmpty()) {
        const QString pin = pinEdit->text();
        pinEdit->clear();
        Q_EMIT pinEntered(pin);
    }
}

void PasskeyPrompt::reject()
{
    Q_EMIT declined();
}
