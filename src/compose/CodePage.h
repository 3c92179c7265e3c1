#pragma once
// Conversion between wide text and one 8-bit code page (UTF-8, or any charset ICU knows).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

namespace pw {

class CodePage {
public:
    // The system's 8-bit code page on this platform.
    [[nodiscard]] static CodePage utf8();
    // A converter by its ICU name ("Shift_JIS", "ISO-2022-JP", "windows-1252", ...); nullopt
    // when ICU does not know the name.
    [[nodiscard]] static std::optional<CodePage> fromName(const QByteArray& name);

    // Characters the code page cannot represent become its substitution character, as the
    // mail on the wire would have them.
    [[nodiscard]] QByteArray encode(QStringView text) const;
    // Invalid bytes become U+FFFD; never fails.
    [[nodiscard]] QString decode(QByteArrayView bytes) const;

    [[nodiscard]] const QByteArray& name() const { return m_name; }
    [[nodiscard]] bool isUtf8() const { return m_utf8; }

private:
    CodePage(QByteArray name, bool utf8) : m_name(std::move(name)), m_utf8(utf8) {}
    QByteArray m_name;
    bool m_utf8;
};

}  // namespace pw
