#include "signin/formpost.h"

#include <QList>

FormFields parseUrlEncodedForm(const QByteArray &body)
{
    FormFields fields;
    for (QByteArray piece : body.split('&')) {
        if (piece.isEmpty())
            continue;
        // The form encoding writes a space as "+"; a literal "+" arrives as "%2B".
        piece.replace('+', ' ');
        const qsizetype equals = piece.indexOf('=');
        const QByteArray name = equals < 0 ? piece : piece.left(equals);
        const QByteArray value = equals < 0 ? QByteArray() : piece.mid(equals + 1);
        fields.emplace_back(QByteArray::fromPercentEncoding(name).toStdString(),
                            QByteArray::fromPercentEncoding(value).toStdString());
    }
    return fields;
}
