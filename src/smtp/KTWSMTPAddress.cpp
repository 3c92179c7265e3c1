#include "smtp/KTWSMTPAddress.h"

namespace pw::smtp {
namespace {

QString withoutControls(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F) {
            out += c;
        }
    }
    return out;
}

bool isBlank(QChar c) {
    return c == ' ' || c == '\t' || c == QChar(0x3000);  // the ideographic blank too
}

// The text without the quotes of a quoted string and its "\" escapes.
QString unquoted(QString text) {
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith('"') && text.endsWith('"')) {
        text = text.mid(1, text.size() - 2);
        QString out;
        out.reserve(text.size());
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                ++i;
            }
            out += text[i];
        }
        return out;
    }
    return text;
}

QStringList blankSeparated(const QString& text) {
    QStringList words;
    QString word;
    for (const QChar c : text) {
        if (isBlank(c)) {
            if (!word.isEmpty()) {
                words.append(word);
            }
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.isEmpty()) {
        words.append(word);
    }
    return words;
}

// Items of a recipient text: cut at separators outside quotes, <...> and (...).
QStringList recipientItems(const QString& text) {
    QStringList items;
    QString item;
    bool quoted = false;
    int angle = 0;
    int paren = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            item += c;
            if (c == '\\' && i + 1 < text.size()) {
                item += text[++i];
            } else if (c == '"') {
                quoted = false;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            ++angle;
        } else if (c == '>' && angle > 0) {
            --angle;
        } else if (c == '(') {
            ++paren;
        } else if (c == ')' && paren > 0) {
            --paren;
        } else if (angle == 0 && paren == 0 &&
                   (c == ',' || c == ';' || c == '\r' || c == '\n' || c == '\t')) {
            items.append(item);
            item.clear();
            continue;
        }
        item += c;
    }
    items.append(item);
    return items;
}

// The position of the first occurrence of c outside a quoted string, or -1.
qsizetype indexOutsideQuotes(const QString& text, QChar c) {
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (quoted && text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && text[i] == c) {
            return i;
        }
    }
    return -1;
}

}  // namespace

bool CKTWSMTPAddress::looksLikeMailAddress(const QString& address) {
    const qsizetype at = address.lastIndexOf('@');
    if (at <= 0 || at + 1 >= address.size() || address.size() > 254) {
        return false;
    }
    // ASCII only: an address in another script needs SMTPUTF8, which this client does not
    // speak, and would put 8-bit bytes into RCPT TO and the header
    for (const QChar c : address) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F || c == '<' || c == '>' || c == '(' ||
            c == ')' || c == ',' || c == ';' || c == '"' || c == '\\') {
            return false;
        }
    }
    return true;
}

QList<CKTWSMTPAddress::RecipientItem> CKTWSMTPAddress::splitRecipientText(const QString& text) {
    QList<RecipientItem> items;
    auto add = [&items](const QString& name, const QString& address, const QString& asWritten) {
        items.append(RecipientItem{name, address, asWritten});
    };
    // plain words: each one address; the first takes the name, if there is one
    auto addWords = [&add](const QString& words, QString name) {
        for (const QString& word : blankSeparated(words)) {
            add(name, word, word);
            name.clear();
        }
    };
    for (const QString& raw : recipientItems(text)) {
        const QString item = raw.trimmed();
        if (item.isEmpty()) {
            continue;
        }
        const qsizetype lt = indexOutsideQuotes(item, '<');
        const qsizetype gt = lt >= 0 ? item.indexOf('>', lt + 1) : -1;
        if (lt >= 0 && gt > lt) {
            add(unquoted(item.left(lt)), item.mid(lt + 1, gt - lt - 1), item.left(gt + 1));
            addWords(item.mid(gt + 1), {});
            continue;
        }
        const qsizetype open = indexOutsideQuotes(item, '(');
        const qsizetype close = open >= 0 ? item.indexOf(')', open + 1) : -1;
        if (open >= 0 && close > open) {
            addWords(item.left(open) + ' ' + item.mid(close + 1),
                     item.mid(open + 1, close - open - 1).trimmed());
            continue;
        }
        const qsizetype quote = item.indexOf('"');
        if (quote >= 0) {
            // "Name" address: the quoted text is the name of the words after it
            qsizetype end = quote + 1;
            while (end < item.size() && item[end] != '"') {
                end += item[end] == '\\' ? 2 : 1;
            }
            const QString name = unquoted(item.mid(quote, end - quote + 1));
            addWords(item.left(quote) + ' ' + item.mid(end + 1), name);
            continue;
        }
        addWords(item, {});
    }
    return items;
}

CKTWSMTPAddress::RecipientList CKTWSMTPAddress::parseRecipientText(const QString& text) {
    RecipientList list;
    for (const RecipientItem& item : splitRecipientText(text)) {
        const QString trimmed = withoutControls(item.address).trimmed();
        if (looksLikeMailAddress(trimmed)) {
            list.addresses.append(CKTWSMTPAddress(item.name, trimmed));
        } else if (!item.asWritten.trimmed().isEmpty()) {
            list.rejected.append(item.asWritten.trimmed());
        }
    }
    return list;
}

CKTWSMTPAddress::CKTWSMTPAddress(const QString& input) {
    const QString text = input.trimmed();
    const qsizetype lt = text.indexOf('<');
    const qsizetype gt = lt >= 0 ? text.indexOf('>', lt + 1) : -1;
    if (lt >= 0 && gt > lt + 1) {
        setAddress(text.mid(lt + 1, gt - lt - 1));
        // "\"Name\" <address>" is the regular form itself: its quotes are not the name's
        QString name = text.left(lt).trimmed();
        if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"')) {
            name = name.mid(1, name.size() - 2);
        }
        setName(name);
        return;
    }
    const qsizetype open = text.indexOf('(');
    const qsizetype close = open >= 0 ? text.indexOf(')', open + 1) : -1;
    if (open >= 0 && close > open + 1) {
        setAddress(text.left(open));
        setName(text.mid(open + 1, close - open - 1));
        return;
    }
    setAddress(text);
}

CKTWSMTPAddress::CKTWSMTPAddress(const QString& name, const QString& address) {
    setName(name);
    setAddress(address);
}

void CKTWSMTPAddress::setName(const QString& name) {
    m_name = withoutControls(name).trimmed();
}

void CKTWSMTPAddress::setAddress(const QString& address) {
    m_address = withoutControls(address).trimmed();
}

QString CKTWSMTPAddress::regularForm() const {
    if (m_name.isEmpty()) {
        return m_address;
    }
    return QStringLiteral("\"%1\" <%2>").arg(m_name, m_address);
}

QList<CKTWSMTPAddress> CKTWSMTPAddress::parseList(const QString& text) {
    QList<CKTWSMTPAddress> list;
    QString item;
    bool quoted = false;
    auto flush = [&] {
        CKTWSMTPAddress address(item.trimmed());
        if (!address.isEmpty()) {
            list.append(address);
        }
        item.clear();
    };
    for (const QChar c : text) {
        if (c == '"') {
            quoted = !quoted;
            item += c;
        } else if (!quoted && (c == ',' || c == ';' || c == '\r' || c == '\n' || c == '\t')) {
            flush();
        } else {
            item += c;
        }
    }
    flush();
    return list;
}

}  // namespace pw::smtp
