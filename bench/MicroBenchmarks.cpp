// The steps one request and one health report cost on the GUI thread, measured alone.

#include "monitor/JsonReply.h"
#include "monitor/ServerManager.h"
#include "views/ServerAlarmsWidget.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <benchmark/benchmark.h>

namespace {

// One page with one row, shown, as in the main window.
struct Fixture
{
    ServerAlarmsWidget* page = nullptr;
    std::shared_ptr<Server> server;
};

Fixture& fixture()
{
    static Fixture f = [] {
        Fixture made;
        made.page = new ServerAlarmsWidget;
        made.page->resize(480, 640);
        made.page->show();
        made.server = ServerManager::instance()->addServer(QStringLiteral("Bench"), QStringLiteral("127.0.0.1"), 9,
                                                           QStringLiteral("admin"), QStringLiteral("secret"));
        // No network here: the benchmarks run the steps themselves.
        made.server->initTimer.stop();
        made.server->salt = QStringLiteral("$2b$04$LPuI22OkwzIUhPs4So4LaO");
        made.server->initialized = true;
        return made;
    }();
    return f;
}

// A report of `lines` alarm lines, spread over the recorder, camera and disk lists in turn; reports of
// another variant have other texts.
QByteArray healthReport(int lines, int variant = 0)
{
    QJsonArray recorder, cameras, diskErrors;
    for (int i = 0; i < lines; ++i) {
        const int n = i + variant * lines;
        switch (i % 3) {
        case 0:
            cameras.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("Camera %1").arg(n)},
                                       {QStringLiteral("streamName"), QStringLiteral("main")},
                                       {QStringLiteral("error"), QStringLiteral("no signal")}});
            break;
        case 1:
            recorder.append(QStringLiteral("Recording stopped on volume %1").arg(n));
            break;
        default:
            diskErrors.append(QStringLiteral("Reallocated sectors: %1").arg(n));
            break;
        }
    }
    const QJsonObject disk{{QStringLiteral("dev"), QStringLiteral("sda")},
                           {QStringLiteral("model"), QStringLiteral("XY-2000")},
                           {QStringLiteral("errors"), diskErrors}};
    const QJsonObject report{
        {QStringLiteral("health"), QJsonObject{{QStringLiteral("recorder"), recorder.isEmpty()},
                                               {QStringLiteral("cameras"), cameras.isEmpty()},
                                               {QStringLiteral("hardware"), diskErrors.isEmpty()}}},
        {QStringLiteral("errorDetails"),
         QJsonObject{
             {QStringLiteral("recorder"), recorder},
             {QStringLiteral("cameras"), cameras},
             {QStringLiteral("hardware"), QJsonObject{{QStringLiteral("smartErrors"),
                                                       QJsonObject{{QStringLiteral("globalError"), QString()},
                                                                   {QStringLiteral("disks"), QJsonArray{disk}}}}}}}}};
    return QJsonDocument(report).toJson(QJsonDocument::Compact);
}

// What the page does with one alarmsUpdated, up to the pixels: the rebuild if any, the deferred layout and a paint.
void showAlarms(const Fixture& f)
{
    emit f.server->alarmsUpdated();
    QCoreApplication::processEvents();
    f.page->repaint();
}

void BM_WsseHeaders(benchmark::State& state)
{
    Fixture& f = fixture();
    const QByteArray hash = BcryptCache::compute(f.server->password.toUtf8(), f.server->salt.toUtf8());
    for (auto _ : state) {
        QNetworkRequest request;
        ServerManager::instance()->_addWsseHeaders(request, *f.server, hash);
        benchmark::DoNotOptimize(request);
    }
}
BENCHMARK(BM_WsseHeaders)->Unit(benchmark::kMicrosecond);

// The reply body to the filled lists, as the health handler does it: JSON parse, then _parseHealth.
void parseHealth(const Fixture& f, const QByteArray& body)
{
    QJsonDocument doc;
    JsonReply::parse(body, &doc);
    ServerManager::instance()->_parseHealth(doc, f.server);
}

void BM_ParseHealth(benchmark::State& state)
{
    Fixture& f = fixture();
    const QByteArray body = healthReport(int(state.range(0)));
    for (auto _ : state)
        parseHealth(f, body);
    state.counters["lines"] = double(state.range(0));
}
BENCHMARK(BM_ParseHealth)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Reports whose lines differ from the last one's, the rows rebuilt each time.
void BM_AlarmsRefresh(benchmark::State& state)
{
    Fixture& f = fixture();
    QStringList lists[2][3];
    for (int variant = 0; variant < 2; ++variant) {
        parseHealth(f, healthReport(int(state.range(0)), variant));
        lists[variant][0] = f.server->recorderErrors;
        lists[variant][1] = f.server->camerasErrors;
        lists[variant][2] = f.server->hardwareErrors;
    }
    int variant = 0;
    for (auto _ : state) {
        variant = 1 - variant;
        f.server->recorderErrors = lists[variant][0];
        f.server->camerasErrors = lists[variant][1];
        f.server->hardwareErrors = lists[variant][2];
        showAlarms(f);
    }
}
BENCHMARK(BM_AlarmsRefresh)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The same report again, as most polls are: whatever the page then asks of the event loop, and no forced
// paint, since nothing on it changed.
void BM_AlarmsUnchanged(benchmark::State& state)
{
    Fixture& f = fixture();
    parseHealth(f, healthReport(int(state.range(0))));
    showAlarms(f);
    for (auto _ : state) {
        emit f.server->alarmsUpdated();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_AlarmsUnchanged)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The target figure: a new report parsed and shown.
void BM_ParseAndShow(benchmark::State& state)
{
    Fixture& f = fixture();
    const QByteArray bodies[2] = {healthReport(int(state.range(0)), 0), healthReport(int(state.range(0)), 1)};
    int variant = 0;
    for (auto _ : state) {
        variant = 1 - variant;
        parseHealth(f, bodies[variant]);
        showAlarms(f);
    }
}
BENCHMARK(BM_ParseAndShow)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
