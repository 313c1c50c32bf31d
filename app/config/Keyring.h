#pragma once

#include <QObject>
#include <QString>
#include <functional>

// The desktop's keyring (the Secret Service, KWallet, the Windows Credential Manager, the macOS
// Keychain), through QtKeychain. Every call is asynchronous: its answer comes on the GUI thread later,
// so nothing waits for a keyring that asks the user to unlock it.
class Keyring : public QObject
{
    Q_OBJECT

public:
    static Keyring* instance();

    // Where the secrets are filed: the service the desktop's keyring shows them under.
    static const QString service;

    // error is empty on success; a missing entry is an error too, with missing set.
    using Read = std::function<void(const QString& secret, const QString& error, bool missing)>;
    using Done = std::function<void(const QString& error)>;

    void read(const QString& key, Read done);
    // Text, so that the desktop's own keyring tools show it as it is.
    void write(const QString& key, const QString& secret, Done done);
    // Removing a secret that is not there succeeds; done may be empty.
    void remove(const QString& key, Done done);
    // Whether a keyring answers: done with an empty error when one does.
    void probe(Done done);

private:
    Keyring() = default;
};
