// The shape the sign-in's prompts share: what differs between them is only what they ask.
#pragma once

#include <QString>

class QDialog;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class QWidget;

// A word-wrapped label showing `text` as plain text: hosts, realms and sites come from the
// network or a page and must not be read as markup.
QLabel *plainTextLabel(const QString &text = QString());

// The button row of a prompt, made inside `dialog` so that its default button is the dialog's
// own default, which Enter presses and which it returns to whenever the focus leaves a button.
// The row's accepted and rejected reach the dialog's accept() and reject().
struct PromptButtons {
    QDialogButtonBox *box = nullptr;
    QPushButton *accept = nullptr; // the default button, in the accept role, titled `acceptText`
};
PromptButtons promptButtons(QDialog *dialog, const QString &acceptText);

// Shows `widget` and brings it forward: raised above the sign-in's windows and activated.
void bringForward(QWidget *widget);

// A window title that shows `title` as it is: Qt reads "[*]" in a title as the place of the
// window-modified mark and hides it; doubled, it stands for itself.
QString literalWindowTitle(QString title);
