#include "app/config/Keyring.h"

#include <QLibrary>
#include <qt5keychain/keychain.h>

namespace {

// A key no server has: reading it tells whether a keyring answers at all.
const QString probeKey = QStringLiteral("keyring probe");

// On Linux QtKeychain goes through libsecret, which keeps its connection to the Secret Service for the
// whole process: once the keyring's daemon has restarted, every call fails with "The session does not
// exist" until the program ends. After a failure the connection is dropped, so the retry makes a new one.
void forgetService(const QKeychain::Job* job)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound)
        return;
    QLibrary libsecret(QStringLiteral("secret-1"), 0);
    using Disconnect = void (*)();
    if (const auto disconnect = reinterpret_cast<Disconnect>(libsecret.resolve("secret_service_disconnect")))
        disconnect();
#else
    Q_UNUSED(job)
#endif
}

template <typename Job> Job* startJob(const QString& key, QObject* parent)
{
    auto* job = new Job(Keyring::service, parent);
    job->setAutoDelete(true);
    job->setKey(key);
    return job;
}

} // namespace

const QString Keyring::service = QStringLiteral("Quelvane Monitor");

Keyring* Keyring::instance()
{
    static Keyring* const keyring = new Keyring;
    return keyring;
}

void Keyring::read(const QString& key, Read done)
{
    auto* job = startJob<QKeychain::ReadPasswordJob>(key, this);
    connect(job, &QKeychain::Job::finished, this, [done = std::move(done)](QKeychain::Job* finished) {
        const auto* reading = static_cast<QKeychain::ReadPasswordJob*>(finished);
        forgetService(reading);
        const bool failed = reading->error() != QKeychain::NoError;
        done(reading->textData(), failed ? reading->errorString() : QString(),
             reading->error() == QKeychain::EntryNotFound);
    });
    job->start();
}

void Keyring::write(const QString& key, const QString& secret, Done done)
{
    auto* job = startJob<QKeychain::WritePasswordJob>(key, this);
    job->setTextData(secret);
    connect(job, &QKeychain::Job::finished, this, [done = std::move(done)](QKeychain::Job* finished) {
        forgetService(finished);
        done(finished->error() == QKeychain::NoError ? QString() : finished->errorString());
    });
    job->start();
}

void Keyring::remove(const QString& key, Done done)
{
    auto* job = startJob<QKeychain::DeletePasswordJob>(key, this);
    connect(job, &QKeychain::Job::finished, this, [done = std::move(done)](QKeychain::Job* finished) {
        forgetService(finished);
        const bool gone = finished->error() == QKeychain::NoError || finished->error() == QKeychain::EntryNotFound;
        if (done)
            done(gone ? QString() : finished->errorString());
    });
    job->start();
}

void Keyring::probe(Done done)
{
    read(probeKey, [done = std::move(done)](const QString&, const QString& error, bool missing) {
        done(missing ? QString() : error);
    });
}
