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

    // The password is kept elsewhere (the desktop's keyring) and fetched before the server authenticates.
    bool passwordElsewhere = false;

    // Until when the user silences the whole server: its unreachability and every category.
    QDateTime ignoreUntil;

    // Bumped by every (re)authentication, so replies of a superseded round can be recognised.
    quint64 authRound = 0;
    // Authenticated, with its health polled on alarmsTimer.
    bool polling = false;

    // Why a server cannot be watched, for the one-word reason the user is told.
    enum class Outage
    {
        NoAnswer, // nothing came back: refused, reset, unknown host, time-out
        Refused,  // the login or the credentials refused
        Failing,  // an answer that is an error or cannot be read, or a setting refused
    };
    // The error text while the server counts as unreachable, empty otherwise: a run of failures long
    // enough not to be a glitch, ended by the first good health report.
    QString unreachable;
    Outage outage = Outage::NoAnswer;
    // Runs of failures so far, each ended by a success of its own kind.
    int failedPolls = 0;
    int failedAuths = 0;
    int refusedPolls = 0;
    // A run of refused polls authenticates again once; a good health report ends the run.
    bool reauthenticated = false;

    // "login@host:port": what identifies the server whatever its name.
    QString account() const;
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
