// The form a provider posts to the redirect URI (OAuth's response_mode=form_post).
#pragma once

#include <QByteArray>

#include <string>
#include <utility>
#include <vector>

// The fields of a form, decoded to UTF-8, in the order they were sent.
using FormFields = std::vector<std::pair<std::string, std::string>>;

// The fields of an application/x-www-form-urlencoded body: "+" is a space, percent escapes are
// decoded, a field with no "=" has an empty value and empty pieces are skipped.
FormFields parseUrlEncodedForm(const QByteArray &body);
