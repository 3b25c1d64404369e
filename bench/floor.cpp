// The engine's floor for start-up and for one sign-in.
//
//   tavisk-bench-floor startup   registers the scheme, creates the application object, reads the
//                                default user agent, writes "ready" on stdout and idles until
//                                stdin ends.
//   tavisk-bench-floor signin    the same, then for each line "<url> <redirect-prefix>" on stdin
//                                shows a bare view at <url>, refuses the first navigation whose
//                                URL begins with the prefix, writes "redirect_url <url>" and
//                                hides the view.
//
// Output goes out with write(2) straight from the slot, so the time from the refused
// navigation to the line is the least this engine allows.
#include <QApplication>
#include <QSocketNotifier>
#include <QUrl>
#include <QWebEngineNavigationRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlScheme>
#include <QWebEngineView>

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

void writeLine(const std::string &text)
{
    const std::string line = text + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// Diagnosis only: TAVISK_FLOOR_EXTRA lists steps of the helper to add to the floor ("raise",
// "ua"), to find which of them a difference comes from. bench/run.sh never sets it.
QByteArray extras;

struct SignIn {
    QWebEngineView *view = nullptr;
    QString redirectPrefix;
    bool done = false;
};

void startSignIn(SignIn &signIn, const std::string &line)
{
    const std::size_t space = line.find(' ');
    const QUrl url(QString::fromStdString(line.substr(0, space)), QUrl::TolerantMode);
    signIn.redirectPrefix
        = space == std::string::npos ? QString() : QString::fromStdString(line.substr(space + 1));
    signIn.done = false;
    if (signIn.view == nullptr) {
        signIn.view = new QWebEngineView(static_cast<QWidget *>(nullptr));
        QObject::connect(signIn.view->page(), &QWebEnginePage::navigationRequested, signIn.view,
                         [&signIn](QWebEngineNavigationRequest &request) {
                             const QString text = request.url().toString();
                             if (signIn.done || !text.startsWith(signIn.redirectPrefix))
                                 return;
                             request.reject();
                             signIn.done = true;
                             writeLine("redirect_url " + text.toStdString());
                             // Hidden once the engine has had the refusal, as the helper does.
                             QMetaObject::invokeMethod(
                                 signIn.view, [&signIn] { signIn.view->hide(); },
                                 Qt::QueuedConnection);
                         });
    }
    signIn.view->resize(800, 600);
    signIn.view->show();
    if (extras.contains(QByteArrayLiteral("raise"))) {
        signIn.view->setWindowTitle(QStringLiteral("Bench"));
        signIn.view->raise();
        signIn.view->activateWindow();
    }
    if (extras.contains(QByteArrayLiteral("ua")))
        QWebEngineProfile::defaultProfile()->setHttpUserAgent(
            QWebEngineProfile::defaultProfile()->httpUserAgent());
    signIn.view->setUrl(url);
}

} // namespace

int main(int argc, char **argv)
{
    extras = qgetenv("TAVISK_FLOOR_EXTRA");
    const bool signInMode = argc > 1 && std::strcmp(argv[1], "signin") == 0;

    QWebEngineUrlScheme scheme(QByteArrayLiteral("ms-appx-web"));
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QByteArray userAgent = QWebEngineProfile::defaultProfile()->httpUserAgent().toUtf8();
    writeLine(userAgent.isEmpty() ? "ready (no user agent)" : "ready");

    SignIn signIn;
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &application, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            return;
        if (n <= 0) {
            input.setEnabled(false);
            delete signIn.view;
            signIn.view = nullptr;
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (signInMode && !line.empty())
                startSignIn(signIn, line);
        }
    });
    return QApplication::exec();
}
