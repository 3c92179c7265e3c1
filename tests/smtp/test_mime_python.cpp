#include "test_mime_python.h"

#include "TestEnv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace pw::test {

MimeDescription describeMime(const QByteArray& message) {
    MimeDescription d;
    const QByteArray script = readFile(QStringLiteral(MIME_TREE_SCRIPT));
    if (script.isEmpty()) {
        d.error = QStringLiteral("cannot read " MIME_TREE_SCRIPT);
        return d;
    }
    QByteArray stored = message;
    stored.replace("\r\n..", "\r\n.");
    const ProcessResult r = runPython(QString::fromUtf8(script), {}, stored);
    if (r.exitCode != 0) {
        d.error = QString::fromUtf8(r.err);
        return d;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out, &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        d.error = QStringLiteral("bad JSON: ") + QString::fromUtf8(r.out.left(200));
        return d;
    }
    d.tree = doc.object();
    return d;
}

QList<QJsonObject> flattenMime(const QJsonObject& root) {
    QList<QJsonObject> out{root};
    for (const QJsonValue& child : root.value(QLatin1StringView("parts")).toArray()) {
        out += flattenMime(child.toObject());
    }
    return out;
}

QString mimeShape(const QJsonObject& node) {
    QString shape = node.value(QLatin1StringView("type")).toString();
    const QJsonArray parts = node.value(QLatin1StringView("parts")).toArray();
    if (!parts.isEmpty()) {
        QStringList inner;
        for (const QJsonValue& child : parts) {
            inner += mimeShape(child.toObject());
        }
        shape += '(' + inner.join(',') + ')';
    }
    return shape;
}

}  // namespace pw::test
