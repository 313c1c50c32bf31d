#include "tools/recorder-sim/RecorderSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

volatile std::sig_atomic_t signalled = 0;
std::atomic<bool> stdinClosed{false};

void onSignal(int)
{
    signalled = 1;
}

int fail(const QString& message, int code)
{
    std::fprintf(stderr, "quelvane-recorder-sim: %s\n", qPrintable(message));
    return code;
}

QByteArray requestLine(const RecordedRequest& request)
{
    QJsonArray headerNames;
    for (const auto& header : request.headers)
        headerNames.append(QString::fromLatin1(header.first));
    const QJsonObject line{{"method", request.method}, {"path", request.path},           {"login", request.login},
                           {"status", request.status}, {"authError", request.authError}, {"headers", headerNames}};
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

// Appends the requests recorded since the last call; the file is reopened each time so a reader
// outside sees complete lines as soon as they are written.
void appendRequests(const RecorderSim& sim, const QString& path, int* written)
{
    const QList<RecordedRequest> requests = sim.requests();
    if (requests.size() <= *written)
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    for (int i = *written; i < requests.size(); ++i)
        file.write(requestLine(requests.at(i)));
    *written = int(requests.size());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulates recording servers on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (0: any free port)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption stdinOption(QStringLiteral("until-stdin-closes"),
                                         QStringLiteral("Also stop when standard input reaches its end."));
    const QCommandLineOption logOption(QStringLiteral("log-requests"),
                                       QStringLiteral("Append one JSON line per received request to FILE."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption hashOption(QStringLiteral("hash-first"),
                                        QStringLiteral("Hash every recorder's password before listening."));
    const QCommandLineOption hashCacheOption(QStringLiteral("hash-cache"),
                                             QStringLiteral("With --hash-first: keep the hashes in FILE across runs."),
                                             QStringLiteral("FILE"));
    parser.addOption(portOption);
    parser.addOption(hashOption);
    parser.addOption(hashCacheOption);
    parser.addOption(stdinOption);
    parser.addOption(logOption);
    parser.addPositionalArgument(QStringLiteral("scenario"), QStringLiteral("Scenario JSON file."));
    if (!parser.parse(app.arguments()))
        return fail(parser.errorText(), 2);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("exactly one scenario file is needed"), 2);
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535)
        return fail(QStringLiteral("invalid port \"%1\"").arg(parser.value(portOption)), 2);

    RecorderSim sim;
    QString error;
    if (!sim.loadScenarioFile(parser.positionalArguments().constFirst(), &error))
        return fail(error, 2);
    if (parser.isSet(hashOption))
        sim.hashAll(parser.value(hashCacheOption));
    if (!sim.start(quint16(port)))
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port), 1);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    if (parser.isSet(stdinOption)) {
        // Detached: a read blocked on stdin must not keep the process from ending after a signal.
        std::thread([] {
            while (std::fgetc(stdin) != EOF) {
            }
            stdinClosed = true;
        }).detach();
    }
    std::printf("listening on 127.0.0.1:%u\n", unsigned(sim.port()));
    std::fflush(stdout);
    const QString logPath = parser.value(logOption);
    int logged = 0;
    while (!signalled && !stdinClosed) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!logPath.isEmpty())
            appendRequests(sim, logPath, &logged);
    }
    sim.stop();
    if (!logPath.isEmpty())
        appendRequests(sim, logPath, &logged);
    return 0;
}
