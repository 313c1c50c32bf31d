#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// A string of `length` characters from the 62-character nonce alphabet; empty when length < 1.
QString generateNonce(int length);

// The pieces of the WSSE UsernameToken headers, kept free of any network object so they can be checked alone.
namespace Wsse {

constexpr int nonceLength = 21;

QByteArray authorizationValue();

// The server's clock as far as the offset tells: nowUtc minus clockOffset, to whole seconds, "Z" for UTC.
QString createdStamp(const QDateTime& nowUtc, qint64 clockOffset);

// Base64 of SHA-1 over the nonce, Created and the bcrypt output (up to its first NUL).
QString passwordDigest(const QString& nonce, const QString& created, const QByteArray& bcryptOutput);

QByteArray xWsseValue(const QString& login, const QString& digest, const QString& nonce, const QString& created);

// Local clock minus the clock of an RFC 2822 "Date" header value, both in ms since the epoch.
// A value that does not parse leaves *clockOffset as it was and gives false.
bool takeClockOffset(const QByteArray& dateHeader, qint64 nowMs, qint64* clockOffset);

} // namespace Wsse
