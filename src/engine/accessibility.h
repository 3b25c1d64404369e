// Exposing the sign-in page's content to assistive technology (screen readers).
#pragma once

// What start-up does to QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY before the web engine starts.
// On Linux the engine hides page content from the accessibility bus unless that variable says
// otherwise; a person who cannot see the page must still be able to sign in.
enum class PageAccessibilityStep {
    Set,   // set it to "1"
    Leave, // the environment's own value stands
    Unset, // remove it: the environment asked for "0", which this engine would take as "on"
};

// The step for the variable's current value, nullptr when it is not set. anyValueEnables says
// the engine exposes page content when the variable is set at all, whatever its value (Qt
// WebEngine 6.4); newer engines read only "1" as on, so a "0" stays for them.
PageAccessibilityStep pageAccessibilityStep(const char *value, bool anyValueEnables);

// Takes that step for this build's engine. Must run before the application object exists: the
// engine reads the variable once, when it starts.
void exposePageContentByDefault();
