#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

// The in-memory record of one monitored recording server. Always held by
// std::shared_ptr<Server>; only the server manager creates it.
class Server : public QObject
{
    Q_OBJECT

public:
    Server(const QString& name, const QString& host, int port, const QString& login, const QString& password);

    QStringList recorderErrors;
    QStringList camerasErrors;
    QStringList hardwareErrors;
    QJsonObject sysInfo;
    QJsonObject license;
    QTimer alarmsTimer;
    QTimer initTimer;
    QString name;
    QString host;
    int port;
    QString login;
    QString password;
    QString salt;
    bool initialized = false;
    qint64 clockOffset = 0;
    QString alarmsError;
    QString infoError;

    // Until when the user silences each alarm category. Kept on the record rather than on the category
    // rows, which a failed poll deletes; in memory only, so they end with the record.
    QDateTime recorderIgnoreUntil;
    QDateTime camerasIgnoreUntil;
    QDateTime hardwareIgnoreUntil;

    // Bumped by every (re)authentication, so replies of a superseded round can be recognised.
    quint64 authRound = 0;

    void clearAlarms();
    bool recorderOk() const;
    bool camerasOk() const;
    bool hardwareOk() const;
    QJsonValue toJson() const;

signals:
    void alarmsUpdated();
    void infoUpdated();
};

Q_DECLARE_METATYPE(std::shared_ptr<Server>)
