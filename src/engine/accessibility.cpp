#include "engine/accessibility.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdlib>
#include <cstring>

namespace {

const char kVariable[] = "QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY";

} // namespace

PageAccessibilityStep pageAccessibilityStep(const char *value, bool anyValueEnables)
{
    if (value == nullptr)
        return PageAccessibilityStep::Set;
    if (anyValueEnables && std::strcmp(value, "0") == 0)
        return PageAccessibilityStep::Unset;
    return PageAccessibilityStep::Leave;
}

void exposePageContentByDefault()
{
    // Qt WebEngine ships in step with Qt; up to 6.4 it only asks whether the variable is set.
    const bool anyValueEnables = QT_VERSION < QT_VERSION_CHECK(6, 5, 0);
    switch (pageAccessibilityStep(std::getenv(kVariable), anyValueEnables)) {
    case PageAccessibilityStep::Set:
        qputenv(kVariable, QByteArray("1"));
        break;
    case PageAccessibilityStep::Unset:
        qunsetenv(kVariable);
        break;
    case PageAccessibilityStep::Leave:
        break;
    }
}
