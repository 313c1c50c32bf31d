#include "monitor/Wsse.h"

#include <QCryptographicHash>
#include <QLatin1String>
#include <QRandomGenerator>

QString generateNonce(int length)
{
    static const QLatin1String alphabet("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    QString nonce;
    if (length < 1)
        return nonce;
    nonce.reserve(length);
    // The system generator: a sequence that repeats at every start would replay nonces. Its words are
    // drawn a block at a time and split into bytes, since each call may be a slow hardware read.
    // Bytes from 248 up are dropped so that every character stays equally likely (248 = 4 x 62).
    QRandomGenerator* random = QRandomGenerator::system();
    const auto span = uchar(alphabet.size());
    const uchar limit = uchar(256 / span * span);
    quint64 block[3];
    while (nonce.size() < length) {
        random->fillRange(block);
        for (const quint64 word : block) {
            for (int shift = 0; shift < 64 && nonce.size() < length; shift += 8) {
                const auto byte = uchar(word >> shift);
                if (byte < limit)
                    nonce.append(alphabet[byte % span]);
            }
        }
    }
    return nonce;
}

namespace Wsse {

QByteArray authorizationValue()
{
    return QByteArrayLiteral("WSSE profile=\"UsernameToken\"");
}

QString createdStamp(const QDateTime& nowUtc, qint64 clockOffset)
{
    return nowUtc.toUTC().addMSecs(-clockOffset).toString(Qt::ISODate);
}

QString passwordDigest(const QString& nonce, const QString& created, const QByteArray& bcryptOutput)
{
    const int end = bcryptOutput.indexOf('\0');
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    sha1.addData(nonce.toLatin1());
    sha1.addData(created.toLatin1());
    sha1.addData(end < 0 ? bcryptOutput : bcryptOutput.left(end));
    return QString::fromLatin1(sha1.result().toBase64());
}

QByteArray xWsseValue(const QString& login, const QString& digest, const QString& nonce, const QString& created)
{
    // One pass over the template, so a "%1" typed in the login stays text.
    return QStringLiteral("UsernameToken Username=\"%1\", PasswordDigest=\"%2\", Nonce=\"%3\", Created=\"%4\"")
        .arg(login, digest, nonce, created)
        .toLatin1();
}

bool takeClockOffset(const QByteArray& dateHeader, qint64 nowMs, qint64* clockOffset)
{
    const int end = dateHeader.indexOf('\0');
    const QString text = QString::fromLatin1(end < 0 ? dateHeader : dateHeader.left(end));
    const QDateTime serverTime = QDateTime::fromString(text, Qt::RFC2822Date);
    if (!serverTime.isValid())
        return false;
    *clockOffset = nowMs - serverTime.toMSecsSinceEpoch();
    return true;
}

} // namespace Wsse
