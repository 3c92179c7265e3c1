#pragma once
// Reads rendered messages back with an independent parser (Python's email package, see
// data/mime_tree.py) and returns what it found as JSON.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace pw::test {

struct MimeDescription {
    QJsonObject tree;  // the root node: type, charset, parts, text, sha256, ...
    QString error;     // why the parser could not be run or failed
};

// message is what goes inside DATA; the dots doubled for it are removed first, as the
// receiving server does.
[[nodiscard]] MimeDescription describeMime(const QByteArray& message);

// What a strict reader makes of messages: Python's email package with its strict policy and
// the standard codecs, as a mail client built on it shows them.
struct StrictReading {
    int replacements = 0;  // U+FFFD (or undecodable bytes) in the headers and text parts
    QStringList charsets;  // of the text parts, each once
    QString error;
};
[[nodiscard]] StrictReading readStrictly(const QList<QByteArray>& messages);

// The nodes of a tree in depth-first order, the root first.
[[nodiscard]] QList<QJsonObject> flattenMime(const QJsonObject& root);

// The content types of a tree as one text, e.g. "multipart/mixed(text/plain,application/x)".
[[nodiscard]] QString mimeShape(const QJsonObject& node);

}  // namespace pw::test
