#include "engine/quietlogging.h"

#include "engine/enginearguments.h"

#include <QLoggingCategory>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

bool startsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool setsEngineLogging(const std::string &word)
{
    return startsWith(word, "--log-level") || startsWith(word, "--enable-logging")
        || startsWith(word, "--v=") || startsWith(word, "--vmodule");
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Messages come from the engine's threads as well as the GUI thread.
std::mutex lastWarningMutex;
std::string lastWarning; // guarded by lastWarningMutex

void writeLine(const std::string &line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

// A start-up that fails in Qt (no display, no platform plugin) ends in a fatal message that
// names only its consequence; the warning before it names the cause ("could not connect to
// display").
void quietMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    Q_UNUSED(context);
    const std::string message = text.toStdString();
    switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
        return;
    case QtWarningMsg: {
        std::lock_guard<std::mutex> lock(lastWarningMutex);
        lastWarning = message;
        return;
    }
    case QtCriticalMsg:
        writeLine(oneLogLine("corvane-tavisk: ", message));
        return;
    case QtFatalMsg: {
        std::string cause;
        {
            std::lock_guard<std::mutex> lock(lastWarningMutex);
            cause = lastWarning;
        }
        writeLine(oneLogLine("corvane-tavisk: cannot start: ",
                             cause.empty() ? message : cause + " (" + message + ")"));
        return;
    }
    }
}

} // namespace

bool wantsQuietLogging(const EnvironmentLookup &environment)
{
    return !isNonEmpty(environment("QT_LOGGING_RULES"))
        && !isNonEmpty(environment("QT_LOGGING_CONF"));
}

std::string oneLogLine(const std::string &prefix, const std::string &message)
{
    std::string line = prefix;
    std::size_t i = 0;
    while (i < message.size() && isBlank(message[i]))
        ++i;
    while (i < message.size()) {
        if (!isBlank(message[i])) {
            line += message[i++];
            continue;
        }
        std::size_t end = i;
        bool lineBreak = false;
        for (; end < message.size() && isBlank(message[end]); ++end)
            lineBreak = lineBreak || message[end] == '\n';
        if (end == message.size())
            break;
        line += lineBreak ? "; " : message.substr(i, end - i);
        i = end;
    }
    return line;
}

void quietQtLogging()
{
    if (!wantsQuietLogging(std::getenv))
        return;
    // Off at the category, so the engine's long info blocks are never even formatted.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    qInstallMessageHandler(quietMessageHandler);
}

void quietEngineProcesses()
{
    if (wantsQuietLogging(std::getenv))
        qputenv("QT_LOGGING_RULES",
                QByteArrayLiteral("*.debug=false;*.info=false;*.warning=false"));
}

void quietEngineLog(EngineSwitches *engine)
{
    if (engine->setFlagsVariable) {
        const std::string &flags = engine->flagsVariable;
        for (const std::string &word : engineFlagsSplit(flags)) {
            if (setsEngineLogging(word))
                return;
        }
    } else {
        bool markerGiven = false;
        for (std::size_t i = 1; i < engine->arguments.size(); ++i) {
            if (markerGiven && setsEngineLogging(engine->arguments[i]))
                return;
            markerGiven = markerGiven || engine->arguments[i] == "--webEngineArgs";
        }
    }
    appendEngineSwitches(engine, {"--log-level=3"});
}
