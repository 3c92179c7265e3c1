#include "send/Tracking.h"

#include <QDir>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QSaveFile>

namespace pw::send {

namespace {

QString mac(const QByteArray& key, const QString& runId, const QString& address) {
    const QByteArray data = runId.toLatin1() + '\n' + address.trimmed().toLower().toUtf8();
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(data, key, QCryptographicHash::Sha256).toHex().left(32));
}

QByteArray randomBytes(int count) {
    QByteArray out(count, '\0');
    for (char& c : out)
        c = static_cast<char>(QRandomGenerator::system()->bounded(256));
    return out;
}

}  // namespace

QString newRunId() {
    return QString::fromLatin1(randomBytes(8).toHex());
}

QByteArray trackingKey(const QString& userDataFolder) {
    const QString path = QDir(userDataFolder).filePath(QString::fromLatin1(kTrackingKeyFileName));
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly)) {
        const QByteArray key = QByteArray::fromHex(existing.readAll().trimmed());
        if (key.size() >= 16)
            return key;
    }
    if (existing.exists())
        return {};  // never replace a key: the identifiers already sent would stop matching
    const QByteArray key = randomBytes(32);
    QSaveFile file(path);
    if (!QDir().mkpath(userDataFolder) || !file.open(QIODevice::WriteOnly))
        return {};
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(key.toHex() + '\n');
    return file.commit() ? key : QByteArray();
}

QString trackingId(const RunTracking& run, const QString& address) {
    if (run.key.isEmpty() || run.runId.isEmpty())
        return {};
    return QStringLiteral("pw1-") + run.runId + QLatin1Char('-') + mac(run.key, run.runId, address);
}

TrackingMatch checkTrackingId(const QByteArray& key, const QString& id, const QString& address,
                              QString* runId) {
    const QStringList parts = id.split(QLatin1Char('-'));
    if (key.isEmpty() || parts.size() != 3 || parts[0] != QLatin1String("pw1") ||
        parts[1].size() != 16 || parts[2].size() != 32)
        return TrackingMatch::Invalid;
    if (mac(key, parts[1], address) != parts[2].toLower())
        return TrackingMatch::Invalid;
    if (runId)
        *runId = parts[1];
    return TrackingMatch::Valid;
}

}  // namespace pw::send
