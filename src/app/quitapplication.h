#pragma once

struct HelperState;

// Runs on the GUI thread, posted once as the command thread's last act: deletes the sign-in
// window once its warm-up has settled (AuthWindow::afterWarmUpSettles), then stops the event
// loop.
void quitApplication(HelperState *state);
