// Whether start-up exposes the page's content to assistive technology, and how the environment
// overrides it.
#include "engine/accessibility.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QtGlobal>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

struct StepCase {
    const char *name;
    const char *value; // nullptr: not set
    bool anyValueEnables;
    PageAccessibilityStep step;
};

class PageAccessibility : public testing::TestWithParam<StepCase>
{
};

TEST_P(PageAccessibility, StepForTheEnvironmentsValue)
{
    const StepCase &c = GetParam();
    EXPECT_EQ(pageAccessibilityStep(c.value, c.anyValueEnables), c.step);
}

const StepCase kStepCases[] = {
    {"UnsetIsSet", nullptr, true, PageAccessibilityStep::Set},
    {"UnsetIsSetOnNewerEngines", nullptr, false, PageAccessibilityStep::Set},
    {"OneStays", "1", true, PageAccessibilityStep::Leave},
    // "0" means off; an engine that takes any value as on must not see it at all.
    {"ZeroIsRemoved", "0", true, PageAccessibilityStep::Unset},
    {"ZeroStaysOnNewerEngines", "0", false, PageAccessibilityStep::Leave},
    // Any other value is the person's own choice, whatever the engine makes of it.
    {"EmptyStays", "", true, PageAccessibilityStep::Leave},
    {"OtherValueStays", "yes", true, PageAccessibilityStep::Leave},
    {"ZeroWithMoreStays", "00", true, PageAccessibilityStep::Leave},
};

INSTANTIATE_TEST_SUITE_P(Cases, PageAccessibility, testing::ValuesIn(kStepCases),
                         [](const testing::TestParamInfo<StepCase> &info) {
                             return std::string(info.param.name);
                         });

const char kVariable[] = "QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY";

std::optional<std::string> afterStartUp(const char *value)
{
    if (value == nullptr)
        qunsetenv(kVariable);
    else
        qputenv(kVariable, QByteArray(value));
    exposePageContentByDefault();
    const char *now = std::getenv(kVariable);
    return now == nullptr ? std::nullopt : std::optional<std::string>(now);
}

TEST(ExposePageContentByDefault, ChangesTheProcessEnvironmentForThisEngine)
{
    EXPECT_EQ(afterStartUp(nullptr), "1");
    EXPECT_EQ(afterStartUp("1"), "1");
    EXPECT_EQ(afterStartUp("yes"), "yes");
    const bool anyValueEnables = QT_VERSION < QT_VERSION_CHECK(6, 5, 0);
    EXPECT_EQ(afterStartUp("0"), anyValueEnables ? std::nullopt : std::optional<std::string>("0"));
    qunsetenv(kVariable);
}

} // namespace
