#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

// One program per user and configuration: a second start hands over to the running one and exits,
// or every server would be polled and every script started twice, and each copy's saves would
// overwrite the other's. The running program holds a lock file and listens on a local socket, both
// in the user's private runtime folder; a lock left by a program that died is taken over.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // configDir tells the configurations apart: the demo's throwaway one runs beside the user's own.
    SingleInstance(const QString& configDir, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this start is the only one, listening now for later ones. False when another program
    // runs: it has been asked to show its window unless showWindow is false, and this start must end.
    bool claim(bool showWindow);

signals:
    // A later start asked for the window.
    void showRequested();

private:
    void onConnection();
    bool askRunning(bool showWindow) const;

    QString name;
    // The local socket's: a path in the runtime folder, a pipe's name on Windows.
    QString address;
    std::unique_ptr<QLockFile> lock;
    QLocalServer* server = nullptr;
};
