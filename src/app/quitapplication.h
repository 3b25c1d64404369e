#pragma once

struct HelperState;

// Runs on the GUI thread, posted once as the command thread's last act: deletes the sign-in
// window, then stops the event loop.
void quitApplication(HelperState *state);
