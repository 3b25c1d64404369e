#include "app/startup.h"

#include "app/arguments.h"
#include "app/quitapplication.h"
#include "app/translations.h"
#include "channel/commandloop.h"
#include "channel/guicalls.h"
#include "channel/replies.h"
#include "engine/acceptlanguage.h"
#include "engine/accessibility.h"
#include "engine/desktopproxyreader.h"
#include "engine/enginearguments.h"
#include "engine/engineswitches.h"
#include "engine/proxysettings.h"
#include "engine/quietlogging.h"
#include "engine/renderingchoice.h"
#include "engine/systemtrust.h"
#include "platform/handles.h"
#include "signin/helperstate.h"
#include "signin/sessionstore.h"
#include "webview/authwindow.h"
#include "webview/brokerschemehandler.h"
#include "webview/pagedialogs.h"
#include "webview/passkeyrequests.h"
#include "webview/sessionprofiles.h"
#include "webview/signinscope.h"

#include <QApplication>
#include <QMetaObject>
#include <QQuickWindow>
#include <QWebEngineProfile>
#include <QWebEngineUrlScheme>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

bool isValid(platform::HANDLE handle)
{
    return handle != nullptr && handle != platform::INVALID_HANDLE_VALUE;
}

void printLine(const std::string &text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

template<typename Functor> void postToGuiThread(Functor &&functor)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<Functor>(functor),
                              Qt::QueuedConnection);
}

// Every call posts to the application object and returns at once. `services` outlive the
// calls.
GuiCalls queuedGuiCalls(const PageServices &services)
{
    GuiCalls calls;
    // The state the command thread passes is the one services hold.
    calls.postOpenSignInWindow = [services](HelperState *, const SignInPage &page) {
        postToGuiThread([services, page] { openSignInWindow(services, page); });
    };
    calls.postHideSignInWindow
        = [](HelperState *state) { postToGuiThread([state] { hideSignInWindow(state); }); };
    calls.postQuitApplication
        = [](HelperState *state) { postToGuiThread([state] { quitApplication(state); }); };
    return calls;
}

} // namespace

int runHelper(int argc, char **argv)
{
    const ChannelArguments arguments = scanChannelArguments(argc, argv);
    if (arguments.in.empty() || arguments.out.empty()) {
        printLine(usageLine(argc, argv));
        return 1;
    }

    cmdInHandle = platform::selvo_importHandleFromString(arguments.in.c_str(), "--cmdInFd={}");
    cmdOutHandle = platform::selvo_importHandleFromString(arguments.out.c_str(), "--cmdOutFd={}");
    if (!isValid(cmdInHandle) || !isValid(cmdOutHandle)) {
        printLine("failed to import the cmdIn/cmdOut channel handles");
        return 1;
    }

    // Nothing on standard error when all goes well: a client may show whatever arrives there to
    // the person as an error. QT_LOGGING_RULES brings Qt's and the engine's messages back.
    quietQtLogging();

    // Read by the engine when it starts: screen readers see the page, not an empty document.
    exposePageContentByDefault();

    // Custom schemes must be known to the engine before the application object exists. A
    // page's Content-Security-Policy must not apply to either: "form-action *" would make the
    // engine drop a form's redirect to the broker scheme unseen, and "connect-src" would stop
    // the page's dialogs. Neither ever serves content a page could use.
    QWebEngineUrlScheme brokerScheme(BrokerSchemeHandler::schemeName());
    brokerScheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    brokerScheme.setFlags(QWebEngineUrlScheme::CorsEnabled
                          | QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
    QWebEngineUrlScheme::registerScheme(brokerScheme);
    QWebEngineUrlScheme dialogScheme(PageDialogsHandler::schemeName());
    dialogScheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    dialogScheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled
                          | QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
    QWebEngineUrlScheme::registerScheme(dialogScheme);

    // The engine's compositor shares the application's OpenGL context; it must be asked for
    // before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Software rendering unless the environment or the command line chose: a sign-in page gains
    // nothing from the GPU, and the GL path costs memory in every engine process and time to
    // the first paint (docs/performance.md). Both must be settled before the application object.
    RenderingChoice rendering = chooseRendering(std::getenv, argc, argv);
    if (rendering.softwareSceneGraph)
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    if (rendering.noXcbGlIntegration)
        qputenv("QT_XCB_GL_INTEGRATION", QByteArrayLiteral("none"));
    if (rendering.noVulkanDrivers)
        qputenv("VK_LOADER_DRIVERS_DISABLE", QByteArrayLiteral("*"));
    EngineSwitches engine = engineSwitches(std::getenv, argc, argv, rendering, QT_VERSION);
    if (wantsQuietLogging(std::getenv))
        quietEngineLog(&engine);
    // The desktop's proxy settings, which the engine reads only in part (Plasma 6's only from Qt
    // 6.8, GNOME's never), become its proxy switches unless its own switches chose.
    EngineArguments engineGets = engineArgumentsRead(std::getenv, argc, argv);
    const std::vector<std::string> desktopProxy
        = desktopProxySwitches(std::getenv, engineGets.switches);
    appendEngineSwitches(&engine, desktopProxy);
    engineGets.switches.insert(engineGets.switches.end(), desktopProxy.begin(), desktopProxy.end());
    // Read once, from the switches the engine is about to get; the pages get it through state.
    const ProxySettings proxy = proxySettingsRead(engineGets, std::getenv);
    if (engine.setFlagsVariable)
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", QByteArray::fromStdString(engine.flagsVariable));
    std::vector<char *> applicationArgv = argumentsWith(0, argv, engine.arguments);
    int applicationArgc = static_cast<int>(applicationArgv.size()) - 1;
    QApplication application(applicationArgc, applicationArgv.data());
    // Closing the sign-in window ends a sign-in, never the helper.
    QApplication::setQuitOnLastWindowClosed(false);

    quietEngineProcesses();
    installTranslations();
    // Before the engine starts: a company's own authority, installed the way the system says,
    // is trusted here as it is by the system's other programs.
    trustSystemAuthorities();

    HelperState state;
    state.proxy = proxy;
    SessionRegistry sessions(helperDataFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")));
    state.sessions = &sessions;
    QWebEngineProfile *profile = QWebEngineProfile::defaultProfile();
    state.defaultUserAgent = profile->httpUserAgent().toStdString();
    // The engine sends no Accept-Language of its own: without this, every provider would show
    // the person its default language.
    profile->setHttpAcceptLanguage(QString::fromStdString(acceptLanguageFor(std::getenv)));

    // The sign-in in flight as the pages, their prompts and the schemes see it; the window opens
    // and closes it.
    SignInScope signIn(&state);
    SignInPasskeys passkeys(&signIn);
    const PageServices services{&state, &signIn, &passkeys};

    BrokerSchemeHandler schemeHandler(&state);
    PageDialogsHandler dialogsHandler(&signIn, &passkeys);
    const SessionProfiles::SchemeHandlers schemeHandlers{
        {BrokerSchemeHandler::schemeName(), &schemeHandler},
        {PageDialogsHandler::schemeName(), &dialogsHandler},
    };
    for (const auto &[scheme, handler] : schemeHandlers)
        profile->installUrlSchemeHandler(scheme, handler);
    // Declared after the handlers it uses, so that it goes, with the kept sessions' profiles,
    // before them.
    SessionProfiles profiles(profile, schemeHandlers, profile->httpAcceptLanguage(),
                             sessions.dataFolder());
    state.profiles = &profiles;

    // Runs first once the event loop starts, while the command thread answers hello: the render
    // process of the first sign-in starts before the client asks for it.
    postToGuiThread([services] { warmSignInWindow(services); });
    const GuiCalls gui = queuedGuiCalls(services);
    std::thread commandThread(commandLoop, &state, std::cref(gui));
    const int status = QApplication::exec();

    commandThread.join();
    platform::CloseHandle(cmdInHandle);
    platform::CloseHandle(cmdOutHandle);
    return status;
}
