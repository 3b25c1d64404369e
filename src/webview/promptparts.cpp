#include "webview/promptparts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

QLabel *plainTextLabel(const QString &text)
{
    auto *label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setText(text);
    return label;
}

PromptButtons promptButtons(QDialog *dialog, const QString &acceptText)
{
    PromptButtons buttons;
    buttons.box = new QDialogButtonBox(dialog);
    buttons.accept = buttons.box->addButton(acceptText, QDialogButtonBox::AcceptRole);
    buttons.accept->setDefault(true);
    // accept() and reject() are virtual: a prompt's own overrides are the ones reached.
    QObject::connect(buttons.box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons.box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

void bringForward(QWidget *widget)
{
    widget->show();
    widget->raise();
    widget->activateWindow();
}

QString literalWindowTitle(QString title)
{
    return title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}
