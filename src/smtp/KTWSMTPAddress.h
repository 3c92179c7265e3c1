#pragma once
// One mailbox of a message: a display name and an address.

#include <QList>
#include <QString>
#include <QStringList>

namespace pw::smtp {

class CKTWSMTPAddress {
public:
    CKTWSMTPAddress() = default;
    // Parses "Name <address>", "address (Name)" or a bare address; both parts are trimmed.
    // Control characters (line breaks above all) are removed, so that no address can open a
    // new header line or a new SMTP command.
    explicit CKTWSMTPAddress(const QString& text);
    CKTWSMTPAddress(const QString& name, const QString& address);

    [[nodiscard]] const QString& name() const { return m_name; }
    [[nodiscard]] const QString& address() const { return m_address; }
    void setName(const QString& name);
    void setAddress(const QString& address);
    [[nodiscard]] bool isEmpty() const { return m_address.isEmpty(); }

    // The address alone without a name, otherwise "\"name\" <address>".
    [[nodiscard]] QString regularForm() const;

    // Splits at "," and ";" outside double quotes (and at line breaks and tabs, which a
    // pasted list may hold), and keeps every item whose address is not empty.
    [[nodiscard]] static QList<CKTWSMTPAddress> parseList(const QString& text);

    // A recipient text as an address list: items separated by "," and ";" (and line breaks
    // and tabs) outside quotes, angle brackets and parentheses; an item is "Name <address>"
    // (the name may be quoted and hold blanks, commas and quotes escaped by "\"), "address
    // (Name)", or one or more plain addresses separated by blanks. Whatever is not a mail
    // address (no "@" between other characters, blanks, brackets or non-ASCII characters
    // inside, longer than 254)
    // is never a recipient: it is returned in `rejected`, as written.
    struct RecipientList {
        QList<CKTWSMTPAddress> addresses;
        QStringList rejected;
    };
    [[nodiscard]] static RecipientList parseRecipientText(const QString& text);
    // The same cut into items, before any check: the name and the address each item names,
    // and the item as written. A caller that knows more about parts of the text (a merged
    // value is one address, whatever blanks it holds) cuts a stand-in text and checks itself.
    struct RecipientItem {
        QString name;
        QString address;
        QString asWritten;
    };
    [[nodiscard]] static QList<RecipientItem> splitRecipientText(const QString& text);
    // Whether the text has the form of a mail address (as parseRecipientText accepts it).
    [[nodiscard]] static bool looksLikeMailAddress(const QString& address);

    friend bool operator==(const CKTWSMTPAddress&, const CKTWSMTPAddress&) = default;

private:
    QString m_name;
    QString m_address;
};

}  // namespace pw::smtp
