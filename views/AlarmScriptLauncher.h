#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaObject>
#include <QObject>
#include <QProcessEnvironment>

class QStandardItemModel;
class ServerAlarmsWidget;

// Starts the registered external scripts once each time the Alarms page enters its error state,
// handing them the alarms of that moment through their environment.
class AlarmScriptLauncher : public QObject
{
    Q_OBJECT

public:
    // Owned by the page whose rows it reads.
    explicit AlarmScriptLauncher(ServerAlarmsWidget* page);
    ~AlarmScriptLauncher() override;

    // Bytes of UTF-8; a bound so that a server with thousands of alarm lines cannot break the start.
    static constexpr int maxAlarmsBytes = 65536;

    // Compact JSON array of the servers in alarm, strictly shorter than maxBytes.
    static QByteArray alarmsJson(const QStandardItemModel* model, int maxBytes = maxAlarmsBytes);
    static QProcessEnvironment alarmEnvironment(const QStandardItemModel* model, const QDateTime& time);

private:
    void onErrorStateChanged(bool inError);

    QStandardItemModel* model = nullptr;
    QMetaObject::Connection connection;
    bool lastInError = false;
};
