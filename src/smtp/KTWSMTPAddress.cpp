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

}  // namespace

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
