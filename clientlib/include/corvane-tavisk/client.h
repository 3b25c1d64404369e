/* libcorvane-tavisk-client: starts the corvane-tavisk sign-in helper as a child process and runs
 * interactive web sign-ins through it, from C or C++, with no Qt needed by the caller.
 *
 * One handle holds one helper. Handles share nothing, so each may live on its own thread, but
 * one handle is used from one thread at a time. Every call returns its failure as a value, with
 * a message from tavisk_client_message(); none aborts, raises a signal or leaves a C++
 * exception. The library's descriptors are close-on-exec; the helper inherits its two channel
 * descriptors and its standard streams, nothing else. A helper that goes away never raises
 * SIGPIPE in the caller.
 *
 * Blocking use (scripts, command-line tools):
 *
 *     tavisk_client *client = tavisk_client_new();
 *     if (tavisk_client_start(client, NULL) == TAVISK_OK
 *         && tavisk_client_sign_in(client, url, redirect_uri, "Sign in", NULL, 0) == TAVISK_OK)
 *         puts(tavisk_client_redirect_url(client));
 *     else
 *         fprintf(stderr, "%s\n", tavisk_client_message(client));
 *     tavisk_client_free(client);
 *
 * Event-loop use: tavisk_client_start(), then tavisk_client_navigate(); watch
 * tavisk_client_fd() for readability and call tavisk_client_process() when it is readable or
 * when tavisk_client_timeout_ms() has passed, until it returns something other than
 * TAVISK_PENDING. Only tavisk_client_sign_in(), tavisk_client_close() and tavisk_client_free()
 * wait for the helper. The others return at once, with two bounded exceptions: a request line
 * longer than the channel's buffer (some 200 KiB) waits for the helper to read it, up to the
 * reply wait; and tavisk_client_process() gives a helper whose channel has just ended up to one
 * second to exit, so that its exit status is in the message.
 */
#ifndef CORVANE_TAVISK_CLIENT_H
#define CORVANE_TAVISK_CLIENT_H

#include <stdint.h>
#include <sys/types.h>

#if defined(__GNUC__) || defined(__clang__)
#define TAVISK_CLIENT_API __attribute__((visibility("default")))
#else
#define TAVISK_CLIENT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The channel protocol version this library speaks; a helper that answers hello with another
 * one is refused (TAVISK_PROTOCOL_ERROR). */
#define TAVISK_CLIENT_PROTOCOL_VERSION 1

/* The longest reply line accepted, in bytes: twice the longest URL the web engine handles. */
#define TAVISK_CLIENT_MAX_REPLY_BYTES (4 * 1024 * 1024)

/* The wait for a reply beyond the sign-in's own time limit, and for the hello reply, unless
 * tavisk_client_set_reply_wait_ms() says otherwise. */
#define TAVISK_CLIENT_DEFAULT_REPLY_WAIT_MS 30000

/* What tavisk_client_free() gives the helper to end by itself before stopping it. */
#define TAVISK_CLIENT_DEFAULT_EXIT_WAIT_MS 10000

typedef struct tavisk_client tavisk_client;

typedef enum tavisk_status {
    /* Done: the call succeeded, or the sign-in ended with a redirect URL. */
    TAVISK_OK = 0,
    /* tavisk_client_process(): nothing has finished yet; wait for the descriptor again. */
    TAVISK_PENDING = 1,
    /* The helper answered the sign-in (or a forget) with an error: the identity provider's
     * text, "user_cancelled", "timeout", "session_in_use", ... (tavisk_client_message()). The
     * helper still serves. */
    TAVISK_SIGNIN_FAILED = 2,
    /* No helper program was found where it was looked for. */
    TAVISK_HELPER_NOT_FOUND = 3,
    /* The helper program could not be started (or a descriptor could not be made). */
    TAVISK_START_FAILED = 4,
    /* The helper ended, or closed its reply channel, before answering. */
    TAVISK_HELPER_ENDED = 5,
    /* The helper did not answer in time, or did not read its requests. */
    TAVISK_HELPER_UNRESPONSIVE = 6,
    /* The helper wrote something that is no reply to the request, a line longer than
     * TAVISK_CLIENT_MAX_REPLY_BYTES, or speaks another protocol version. */
    TAVISK_PROTOCOL_ERROR = 7,
    /* The call does not fit the handle's state or its arguments are unusable (a null or
     * non-UTF-8 string, a second sign-in while one is in flight, no helper started). */
    TAVISK_BAD_CALL = 8,
    /* Memory ran out. */
    TAVISK_NO_MEMORY = 9,
    /* The sign-in's page could not be loaded, and the helper said why at once (the message is
     * "certificate_error", "proxy_error" or "network_error"; the host and the engine's error
     * name are in tavisk_client_failure_host() and tavisk_client_failure_error()). The person
     * still sees the reason in the helper's window until they close it, unless the sign-in was
     * silent. The helper still serves. */
    /* The site's certificate is not trusted, has expired, or names another host. */
    TAVISK_CERTIFICATE_ERROR = 10,
    /* The proxy refused or could not be reached, or its sign-in was cancelled. */
    TAVISK_PROXY_ERROR = 11,
    /* The site refused or did not answer, its name did not resolve, or TLS failed. */
    TAVISK_NETWORK_ERROR = 12,
    /* A silent sign-in (tavisk_client_set_silent()) needed a person: a page that waits for
     * someone to sign in, asks a question, or failed to load for a reason other than the three
     * above. Nothing was shown. The helper still serves: begin the sign-in again with silent off
     * to show the window. */
    TAVISK_INTERACTION_REQUIRED = 13
} tavisk_status;

/* Receives each request line as sent (direction '>') and each reply line as received ('<'),
 * without the newline, for logs. Called from the calling thread, inside the library's calls. */
typedef void (*tavisk_transcript_fn)(void *context, char direction, const char *line);

/* A new handle with no helper, or NULL when memory ran out. */
TAVISK_CLIENT_API tavisk_client *tavisk_client_new(void);

/* Ends a helper that still runs as tavisk_client_close() does, with
 * TAVISK_CLIENT_DEFAULT_EXIT_WAIT_MS, and frees the handle. NULL is allowed. */
TAVISK_CLIENT_API void tavisk_client_free(tavisk_client *client);

/* --- Settings; each takes effect at the next tavisk_client_start(). --- */

/* The program path (argv[0] as invoked) beside which tavisk_client_start(client, NULL) looks
 * for the helper first. Default: the running program's own file (/proc/self/exe). */
TAVISK_CLIENT_API tavisk_status tavisk_client_set_program(tavisk_client *client, const char *argv0);

/* Appends an argument given to the helper after its two channel arguments, e.g. Qt's
 * "-platform" "offscreen". */
TAVISK_CLIENT_API tavisk_status tavisk_client_add_argument(tavisk_client *client,
                                                           const char *argument);

/* The descriptor that the helper's standard output and standard error go to. Default 2, the
 * caller's standard error; the helper's standard input is always /dev/null. */
TAVISK_CLIENT_API tavisk_status tavisk_client_set_output_fd(tavisk_client *client, int fd);

/* How long a reply may take beyond the sign-in's own time limit, and how long the hello reply
 * may take; 0 restores TAVISK_CLIENT_DEFAULT_REPLY_WAIT_MS. */
TAVISK_CLIENT_API tavisk_status tavisk_client_set_reply_wait_ms(tavisk_client *client,
                                                                uint32_t milliseconds);

/* Receives the conversation line by line; NULL (the default) for none. */
TAVISK_CLIENT_API tavisk_status tavisk_client_set_transcript(tavisk_client *client,
                                                             tavisk_transcript_fn transcript,
                                                             void *context);

/* --- The sign-ins --- */

/* The client's window that the sign-in windows belong to, in the desktop portals' form:
 * "x11:<hexadecimal window id>" or "wayland:<handle>" (a handle exported for the client's
 * toplevel through xdg-foreign). The helper then shows each sign-in window as that window's
 * child: placed over it, kept above it, given the keyboard. It applies to every sign-in begun
 * after this call on the handle; NULL or "" for none (the default). The helper ignores a value it
 * cannot use, and the sign-in goes on without a parent. TAVISK_BAD_CALL when not UTF-8. */
TAVISK_CLIENT_API tavisk_status tavisk_client_set_parent_window(tavisk_client *client,
                                                                const char *parent_window);

/* The kept session that the sign-ins begun after this call run in: a name of 1 to 64 ASCII
 * letters, digits and "._-@+", not beginning with "." or "-". Its cookies, storage and cache are
 * kept on disk, private to the user, from one run of the helper to the next, so that a provider
 * that remembered the person ("keep me signed in") needs no new sign-in. NULL or "" (the default):
 * none; the helper keeps nothing when it ends. A name the helper refuses ends the sign-in with
 * TAVISK_SIGNIN_FAILED and "invalid_session_name"; one that another helper uses at the time with
 * "session_in_use". TAVISK_BAD_CALL when not UTF-8. */
TAVISK_CLIENT_API tavisk_status tavisk_client_set_session(tavisk_client *client,
                                                          const char *session);

/* Nonzero: the sign-ins begun after this call show nothing at all and end with
 * TAVISK_INTERACTION_REQUIRED as soon as a person would be needed; one that a kept session
 * carries to the redirect URI ends with TAVISK_OK as usual. 0 (the default): the window is shown.
 * The pattern: try silently, and on TAVISK_INTERACTION_REQUIRED set silent to 0 and sign in
 * again. */
TAVISK_CLIENT_API tavisk_status tavisk_client_set_silent(tavisk_client *client, int silent);

/* --- The helper --- */

/* Starts the helper and sends hello, without waiting for its answer. `helper` NULL: the
 * corvane-tavisk beside the program (see tavisk_client_set_program(); as invoked, then with
 * symbolic links resolved), else the first one on PATH. A name with a slash is used as it is;
 * a bare name is looked up on PATH. TAVISK_HELPER_NOT_FOUND, TAVISK_START_FAILED, or
 * TAVISK_BAD_CALL while a helper already runs. */
TAVISK_CLIENT_API tavisk_status tavisk_client_start(tavisk_client *client, const char *helper);

/* Begins one sign-in: asks the helper to show `url` in its window, titled `title`, and to end
 * the sign-in at the first URL that begins with `redirect_uri`. `user_agent` NULL or "": the
 * engine's own. `timeout_ms` 0: the helper's default limit, 3 minutes. The request is sent as
 * soon as the helper has answered hello. Every string is UTF-8; `title` NULL means "". */
TAVISK_CLIENT_API tavisk_status tavisk_client_navigate(tavisk_client *client, const char *url,
                                                       const char *redirect_uri, const char *title,
                                                       const char *user_agent, uint32_t timeout_ms);

/* The descriptor to watch for readability (POLLIN, a QSocketNotifier::Read, a
 * G_IO_IN | G_IO_HUP watch), from tavisk_client_start() until the helper is closed; -1 when no
 * helper runs. It does not change while one helper runs. Do not read it yourself. After a
 * final failure it stays readable (the end of the channel): stop watching it then. */
TAVISK_CLIENT_API int tavisk_client_fd(const tavisk_client *client);

/* Milliseconds until tavisk_client_process() must run even if the descriptor stays quiet (to
 * notice a helper that does not answer in time); -1 when nothing is awaited. */
TAVISK_CLIENT_API int tavisk_client_timeout_ms(const tavisk_client *client);

/* Reads what has arrived, without blocking, and reports a finished sign-in once:
 * TAVISK_PENDING while it is in flight (or none was begun), TAVISK_OK with
 * tavisk_client_redirect_url(), TAVISK_SIGNIN_FAILED with tavisk_client_message(). A failure of
 * the helper (TAVISK_HELPER_ENDED, TAVISK_HELPER_UNRESPONSIVE, TAVISK_PROTOCOL_ERROR) is
 * reported even with no sign-in in flight, and is final: every later call returns it again
 * until tavisk_client_close(). */
TAVISK_CLIENT_API tavisk_status tavisk_client_process(tavisk_client *client);

/* tavisk_client_navigate(), then waits until the sign-in is over; returns what
 * tavisk_client_process() returned at the end. Its wait is bounded by `timeout_ms` (or the
 * default limit) plus the reply wait. */
TAVISK_CLIENT_API tavisk_status tavisk_client_sign_in(tavisk_client *client, const char *url,
                                                      const char *redirect_uri, const char *title,
                                                      const char *user_agent, uint32_t timeout_ms);

/* Deletes the stored data of the kept session `session` and waits until the helper says it is
 * gone (TAVISK_OK, also when nothing was stored). Blocking, bounded by the reply wait; not while a
 * sign-in is in flight (TAVISK_BAD_CALL). TAVISK_SIGNIN_FAILED with "session_in_use" when this
 * helper has used the session since it started, or another helper uses it now (a helper keeps a
 * session it used until it ends); "invalid_session_name" for a name it refuses. Signing out at
 * the provider is a sign-in of its own: navigate to the provider's end-session address. */
TAVISK_CLIENT_API tavisk_status tavisk_client_forget(tavisk_client *client, const char *session);

/* Sends cancel. The helper reads no request while a sign-in is in flight, so a cancel is read
 * only after that sign-in's reply and changes nothing; to give up on a sign-in early, call
 * tavisk_client_close(client, 0). Kept for clients that speak the whole protocol. */
TAVISK_CLIENT_API tavisk_status tavisk_client_cancel(tavisk_client *client);

/* Ends the helper in order: sends exit and closes its input, waits up to `exit_wait_ms` for it
 * to end, then sends SIGTERM and waits up to 2 seconds more, then SIGKILL. A helper with a
 * sign-in in flight reads exit only after it, so 0 stops such a helper at once. TAVISK_OK when
 * it ended by itself with status 0; TAVISK_HELPER_ENDED with a message otherwise (its exit
 * status, or how it was stopped). Afterwards the handle may start a helper again. */
TAVISK_CLIENT_API tavisk_status tavisk_client_close(tavisk_client *client, uint32_t exit_wait_ms);

/* --- Results; each string lives until the next call on the handle that changes it. --- */

/* The redirect URL of the last sign-in that returned TAVISK_OK, else "". */
TAVISK_CLIENT_API const char *tavisk_client_redirect_url(const tavisk_client *client);

/* The field `name` of the form the provider posted to the redirect URI in the last sign-in that
 * returned TAVISK_OK (OAuth's response_mode=form_post: "code", "state", "id_token", "error",
 * ...), or NULL when that sign-in posted no form or the form has no such field. The helper
 * reads a posted form on Qt 6.7 and later only; before, the redirect URL alone is known. */
TAVISK_CLIENT_API const char *tavisk_client_form_field(const tavisk_client *client,
                                                       const char *name);

/* The host whose page could not be loaded, when the last sign-in returned
 * TAVISK_CERTIFICATE_ERROR, TAVISK_PROXY_ERROR or TAVISK_NETWORK_ERROR, else "". */
TAVISK_CLIENT_API const char *tavisk_client_failure_host(const tavisk_client *client);

/* The web engine's name of that failure (e.g. "ERR_CERT_AUTHORITY_INVALID"), for a log or an
 * administrator, when the last sign-in returned one of those statuses, else "". */
TAVISK_CLIENT_API const char *tavisk_client_failure_error(const tavisk_client *client);

/* What went wrong in the last call that failed, else "". */
TAVISK_CLIENT_API const char *tavisk_client_message(const tavisk_client *client);

/* The helper's name and version from its hello answer (e.g. "corvane-tavisk/1.0"), else "". */
TAVISK_CLIENT_API const char *tavisk_client_helper_name(const tavisk_client *client);

/* The helper's process id while it runs, else -1. */
TAVISK_CLIENT_API pid_t tavisk_client_pid(const tavisk_client *client);

/* A short English name for a status, e.g. "helper ended". */
TAVISK_CLIENT_API const char *tavisk_status_name(tavisk_status status);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_TAVISK_CLIENT_H */
