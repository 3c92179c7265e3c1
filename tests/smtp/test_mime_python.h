#pragma once
// Reads rendered messages back with an independent parser (Python's email package, see
// data/mime_tree.py) and returns what it found as JSON.

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace pw::test {

struct MimeDescription {
    QJsonObject tree;  // the root node: type, charset, parts, text, sha256, ...
    QString error;     // why the parser could not be run or failed
};

// message is what goes inside DATA; the dots doubled for it are removed first, as the
// receiving server does.
[[nodiscard]] MimeDescription describeMime(const QByteArray& message);

// The nodes of a tree in depth-first order, the root first.
[[nodiscard]] QList<QJsonObject> flattenMime(const QJsonObject& root);

// The content types of a tree as one text, e.g. "multipart/mixed(text/plain,application/x)".
[[nodiscard]] QString mimeShape(const QJsonObject& node);

}  // namespace pw::test
