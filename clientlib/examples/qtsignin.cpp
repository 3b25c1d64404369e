// A Qt program that runs one sign-in from its event loop: the library's descriptor drives a
// QSocketNotifier, its deadline a single-shot QTimer, and the loop stays free meanwhile (the
// heartbeat counts its turns). Usage: qtsignin URL REDIRECT_URI
#include <corvane-tavisk/client.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL REDIRECT_URI\n", argv[0]);
        return 64;
    }
    tavisk_client *client = tavisk_client_new();
    if (tavisk_client_start(client, nullptr) != TAVISK_OK
        || tavisk_client_navigate(client, argv[1], argv[2], "Sign in", nullptr, 0) != TAVISK_OK) {
        std::fprintf(stderr, "%s\n", tavisk_client_message(client));
        tavisk_client_free(client);
        return 3;
    }

    QSocketNotifier replies(tavisk_client_fd(client), QSocketNotifier::Read);
    QTimer deadline;
    deadline.setSingleShot(true);
    int beats = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] { ++beats; });
    heartbeat.start(50);

    // Runs when a reply arrives and when the library's deadline passes.
    const auto step = [&] {
        const tavisk_status status = tavisk_client_process(client);
        if (status == TAVISK_PENDING) {
            if (tavisk_client_timeout_ms(client) >= 0)
                deadline.start(tavisk_client_timeout_ms(client));
            return;
        }
        replies.setEnabled(false);
        if (status == TAVISK_OK) {
            std::printf("%s\n", tavisk_client_redirect_url(client));
            app.exit(0);
        } else {
            std::fprintf(stderr, "%s: %s\n", tavisk_status_name(status),
                         tavisk_client_message(client));
            app.exit(status == TAVISK_SIGNIN_FAILED ? 2 : 3);
        }
    };
    QObject::connect(&replies, &QSocketNotifier::activated, step);
    QObject::connect(&deadline, &QTimer::timeout, step);
    deadline.start(tavisk_client_timeout_ms(client));

    const int code = app.exec();
    std::fprintf(stderr, "event loop turns during the sign-in: %d\n", beats);
    tavisk_client_free(client); // ends the helper in order
    return code;
}
