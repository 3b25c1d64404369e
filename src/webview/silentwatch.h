// What ends a silent sign-in from its main page's loads.
#pragma once

struct HelperState;
class QWebEnginePage;

// How long a silent sign-in waits, after its main frame finished loading, for a navigation to
// begin: long enough for a page whose script sends the browser on at once, or after a short
// timer, and short against a person's sign-in.
constexpr int kSilentIdleMs = 1500;

// Watches the main frame of `page`, the page of a silent sign-in, for as long as the page lives:
// a load that fails ends the sign-in at once, with the reply of a failed load
// (endSignInWithLoadFailure) when the network, the proxy or the certificate failed, else with
// "interaction_required" and the engine's error (endSilentSignInOnLoadFailure). A finished load,
// or one the helper or a newer navigation aborted, after which no navigation begins within
// kSilentIdleMs ends it with the reason "idle". Any load that begins resets the wait. Runs on the
// GUI thread.
void watchSilentSignIn(HelperState *state, QWebEnginePage *page);
