#include "app/quitapplication.h"

#include "signin/helperstate.h"
#include "webview/authwindow.h"

#include <QCoreApplication>

void quitApplication(HelperState *state)
{
    if (state->window == nullptr) {
        QCoreApplication::quit();
        return;
    }
    // The page must go before the profile and the application object, or the engine complains
    // that a page outlived its profile.
    state->window->afterWarmUpSettles([state] {
        delete state->window;
        state->window = nullptr;
        QCoreApplication::quit();
    });
}
