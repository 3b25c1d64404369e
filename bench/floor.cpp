// The engine's floor for start-up and for one sign-in.
//
//   tavisk-bench-floor startup   registers the scheme, creates the application object, reads the
//                                default user agent, writes "ready" on stdout and idles until
//                                stdin ends.
//   tavisk-bench-floor signin    the same, then for each line "<url> <redirect-prefix>" on stdin
//                                shows a bare view titled "Bench" at <url>, refuses the first
//                                navigation or ms-appx-web request whose URL begins with the
//                                prefix, writes "redirect_url <url>" and hides the view.
//   tavisk-bench-floor signin tuned
//                                the same with the tuning a sign-in window can have for free:
//                                Qt Quick's software scene graph and the engine's GPU off.
//
// Output goes out with write(2) straight from the slot, so the time from the refused
// navigation to the line is the least this engine allows.
#include <QApplication>
#include <QMainWindow>
#include <QQuickWindow>
#include <QSocketNotifier>
#include <QUrl>
#include <QWebEngineNavigationRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

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
// "ua", "frame": the view inside a QMainWindow, "script": a user script at document creation),
// to find which of them a difference comes from, or "noscheme" to leave out the scheme handler.
// bench/run.sh never sets it.
QByteArray extras;

struct SignIn {
    QWebEngineView *view = nullptr;
    QWidget *frame = nullptr; // the view's top-level when it is not the view itself
    QString redirectPrefix;
    bool done = false;
};

// Answers the first redirect seen, whichever way it comes: a navigation request, or a request to
// the custom scheme (a script's navigation redirected there by the server reaches the engine
// only as the latter).
void answerRedirect(SignIn &signIn, const QString &text)
{
    if (signIn.done || !text.startsWith(signIn.redirectPrefix))
        return;
    signIn.done = true;
    writeLine("redirect_url " + text.toStdString());
    // Hidden once the engine has had the refusal, as the helper does.
    QMetaObject::invokeMethod(
        signIn.view, [&signIn] { (signIn.frame != nullptr ? signIn.frame : signIn.view)->hide(); },
        Qt::QueuedConnection);
}

// The scheme's requests all fail, as the helper's do; the first that matches is the answer.
class SchemeHandler : public QWebEngineUrlSchemeHandler
{
public:
    explicit SchemeHandler(SignIn *signIn)
        : signIn(signIn)
    { }
    void requestStarted(QWebEngineUrlRequestJob *job) override
    {
        if (signIn->view != nullptr)
            answerRedirect(*signIn, job->requestUrl().toString());
        job->fail(QWebEngineUrlRequestJob::RequestAborted);
    }

private:
    SignIn *signIn;
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
        if (extras.contains(QByteArrayLiteral("frame"))) {
            auto *frame = new QMainWindow;
            frame->setCentralWidget(signIn.view);
            signIn.frame = frame;
        }
        if (extras.contains(QByteArrayLiteral("script"))) {
            QWebEngineScript script;
            script.setInjectionPoint(QWebEngineScript::DocumentCreation);
            script.setWorldId(QWebEngineScript::MainWorld);
            script.setRunsOnSubFrames(true);
            script.setSourceCode(QStringLiteral("window.benchScript = true;"));
            signIn.view->page()->scripts().insert(script);
        }
        QObject::connect(signIn.view->page(), &QWebEnginePage::navigationRequested, signIn.view,
                         [&signIn](QWebEngineNavigationRequest &request) {
                             const QString text = request.url().toString();
                             if (signIn.done || !text.startsWith(signIn.redirectPrefix))
                                 return;
                             request.reject();
                             answerRedirect(signIn, text);
                         });
    }
    QWidget *top = signIn.frame != nullptr ? signIn.frame : signIn.view;
    top->resize(800, 600);
    // The driver finds the window by its title to type into it.
    top->setWindowTitle(QStringLiteral("Bench"));
    top->show();
    if (extras.contains(QByteArrayLiteral("raise"))) {
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
    const bool tuned = signInMode && argc > 2 && std::strcmp(argv[2], "tuned") == 0;

    QWebEngineUrlScheme scheme(QByteArrayLiteral("ms-appx-web"));
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    std::vector<char *> arguments(argv, argv + argc);
    char engineMarker[] = "--webEngineArgs";
    char disableGpu[] = "--disable-gpu";
    if (tuned) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        arguments.push_back(engineMarker);
        arguments.push_back(disableGpu);
    }
    int argumentCount = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    QApplication application(argumentCount, arguments.data());
    QApplication::setQuitOnLastWindowClosed(false);
    const QByteArray userAgent = QWebEngineProfile::defaultProfile()->httpUserAgent().toUtf8();
    writeLine(userAgent.isEmpty() ? "ready (no user agent)" : "ready");

    SignIn signIn;
    SchemeHandler schemeHandler(&signIn);
    QWebEngineProfile::defaultProfile()->installUrlSchemeHandler(QByteArrayLiteral("ms-appx-web"),
                                                                 &schemeHandler);
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &application, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            return;
        if (n <= 0) {
            input.setEnabled(false);
            delete (signIn.frame != nullptr ? signIn.frame : static_cast<QWidget *>(signIn.view));
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
