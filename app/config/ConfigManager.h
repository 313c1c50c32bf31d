#pragma once

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class Server;

// Keeps the servers and scripts in config.json. Holds nothing itself: every save is built from the
// current lists of the server manager and the external action manager.
class ConfigManager
{
public:
    static ConfigManager* instance();

    void load();
    void save();

    QDir configDir() const;
    QByteArray readConfigFile() const;
    // Returns whether the new contents replaced the old ones; on failure the old file is left as it was
    // and error, when given, says why.
    bool writeConfigFile(const QByteArray& data, QString* error = nullptr) const;
    // The file rewritten through its own handle, for a folder the user may not write: the old contents
    // are put back when the new ones do not fit.
    static bool writeInPlace(const QString& path, const QByteArray& data, QString* error);

    // The user must hear of a save that failed, or the change ends with the program; the window shows it.
    void setSaveFailedHandler(std::function<void(const QString& path, const QString& reason)> handler);

    // Whether the passwords live in the desktop's keyring rather than in the file. Ticked, every password
    // goes to the keyring, and the file loses it only once the keyring has confirmed it; unticked, every
    // password comes back into the file first, and only then leaves the keyring. At no step is a
    // password in neither.
    bool passwordsInKeyring() const { return keyringMode; }
    void setPasswordsInKeyring(bool inKeyring);
    // A password the keyring would not take stays in the file; the user is told which and why.
    void setKeyringFailedHandler(std::function<void(const QString& server, const QString& reason)> handler);
    // The server's secret in the keyring: named after its account when first stored, kept in the file
    // then, so that renaming, moving or editing the server keeps it, and two entries of one account
    // never share one.
    QString keyringKey(const Server& server);

private:
    // What the keyring is known to hold for a server: the key, the password and the hash.
    struct Kept
    {
        QString key;
        QString password;
        QByteArray hash;
    };

    ConfigManager();

    QString configFilePath() const;
    bool write();
    // Whether the file may leave the server's password out: the keyring holds it, or it was never read
    // from there this run.
    bool keyringHolds(const Server& server) const;
    // Secrets of removed servers go once a file without them is written.
    void removeSecrets();
    void storeInKeyring(const QList<std::shared_ptr<Server>>& servers);
    void storedInKeyring(const std::shared_ptr<Server>& server, const Kept& entry, const QString& error);
    void fetchPassword(const std::shared_ptr<Server>& server, std::function<void(const QString& error)> done);

    std::function<void(const QString& path, const QString& reason)> saveFailedHandler;
    std::function<void(const QString& server, const QString& reason)> keyringFailedHandler;
    bool keyringMode = false;
    QHash<const Server*, Kept> kept;
    QHash<const Server*, QString> keys;
    QStringList removedKeys;
    bool lastWriteFailed = false;
    QSet<const Server*> writing;
    // Some password the keyring now holds is still in the file.
    bool fileBehind = false;
};
