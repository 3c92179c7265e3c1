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

StrictReading readStrictly(const QList<QByteArray>& messages) {
    static const char* const script = R"(
import sys, json, email, email.policy
data = sys.stdin.buffer.read().split(b"\0")
bad, charsets = 0, set()
def count(text):
    return sum(1 for c in text if c == "\ufffd" or "\udc80" <= c <= "\udcff")
def read(f):
    try:
        return f()
    except Exception:  # what a strict reader refuses it cannot show either
        return "\ufffd"
for raw in data:
    msg = email.message_from_bytes(raw, policy=email.policy.strict)
    for name in ("subject", "from", "to"):
        shown = read(lambda: str(msg.get(name, "")))
        bad += count(shown) + shown.count("=?")  # an encoded word it could not decode
    for part in msg.walk():
        if part.get_content_maintype() == "text":
            charsets.add(part.get_content_charset())
            bad += count(read(part.get_content))
print(json.dumps({"bad": bad, "charsets": sorted(charsets)}))
)";
    StrictReading reading;
    QByteArray input;
    for (const QByteArray& m : messages) {
        if (!input.isEmpty())
            input += '\0';
        input += QByteArray(m).replace("\r\n..", "\r\n.");
    }
    const ProcessResult r = runPython(QString::fromUtf8(script), {}, input);
    const QJsonObject o = QJsonDocument::fromJson(r.out).object();
    if (r.exitCode != 0 || o.isEmpty()) {
        reading.error = QString::fromUtf8(r.err.isEmpty() ? r.out : r.err);
        return reading;
    }
    reading.replacements = o.value(QLatin1StringView("bad")).toInt();
    for (const QJsonValue& c : o.value(QLatin1StringView("charsets")).toArray())
        reading.charsets << c.toString();
    return reading;
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
