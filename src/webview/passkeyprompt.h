// The prompt a person sees while a page asks for a passkey or a security key.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// What the prompt shows: one step of a page's passkey request, in plain values so that the
// prompt does not depend on which engine reports the request (or whether one does at all).
struct PasskeyStep {
    enum class Kind {
        Waiting,       // the page waits for a key; nothing more is known
        ChooseAccount, // the key holds several accounts for the site
        EnterPin,      // the key wants its PIN
        TouchKey,      // the key waits for a touch
        Failed,        // the request failed; `problem` says why
    };
    Kind kind = Kind::Waiting;
    QString site;          // who asks: the relying party or the page's host
    QStringList accounts;  // ChooseAccount: the names, in the engine's order
    int attemptsLeft = -1; // EnterPin: PIN attempts the key still allows; -1 unknown
    int minPinLength = 0;  // EnterPin
    bool newPin = false;   // EnterPin: the key asks for a PIN to be set or changed
    QString problem;       // EnterPin: why the last PIN was refused; Failed: what went wrong
};

// A non-modal dialog on top of the sign-in window while a page's passkey request lasts. It
// tells the person that a security key is asked for and how to decline (Escape, "Cancel"),
// and takes what the key's steps need: an account from a list (arrow keys, Enter), a masked
// PIN with the attempts left (Enter), a touch, or "Try again" after a failure. It answers
// nothing itself: its signals go to whoever follows the request, which also hides it. Lives on
// the GUI thread; a child of the sign-in window, deleted by the end of the sign-in.
class PasskeyPrompt : public QDialog
{
    Q_OBJECT

public:
    explicit PasskeyPrompt(QWidget *parent);
    ~PasskeyPrompt() override;

    // Shows `step`, replacing the last one; the control the step needs takes the focus.
    void showStep(const PasskeyStep &step);

    void accept() override;
    void reject() override;

Q_SIGNALS:
    void accountChosen(const QString &account);
    void pinEntered(const QString &pin);
    void retryRequested();
    // Escape, "Cancel", or the window system's close: the person does not want to go on.
    void declined();

private:
    PasskeyStep step;
    QLabel *message = nullptr;
    QListWidget *accounts = nullptr;
    QLabel *pinLabel = nullptr;
    QLineEdit *pinEdit = nullptr;
    QLabel *problem = nullptr;
    QPushButton *continueButton = nullptr;
    QPushButton *retryButton = nullptr;
    QPushButton *cancelButton = nullptr;
};
