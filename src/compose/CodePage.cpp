#include "compose/CodePage.h"

#include <unicode/ucnv.h>

#include <memory>

namespace pw {
namespace {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr openConverter(const QByteArray& name) {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(name.constData(), &status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    return converter;
}

}  // namespace

CodePage CodePage::utf8() {
    return CodePage(QByteArrayLiteral("UTF-8"), true);
}

std::optional<CodePage> CodePage::fromName(const QByteArray& name) {
    const QByteArray canonical = name.trimmed();
    if (canonical.compare("UTF-8", Qt::CaseInsensitive) == 0 ||
        canonical.compare("UTF8", Qt::CaseInsensitive) == 0) {
        return utf8();
    }
    if (canonical.isEmpty() || !openConverter(canonical)) {
        return std::nullopt;
    }
    return CodePage(canonical, false);
}

QByteArray CodePage::encode(QStringView text) const {
    if (m_utf8) {
        return text.toUtf8();
    }
    if (text.isEmpty()) {
        return {};
    }
    ConverterPtr converter = openConverter(m_name);
    if (!converter) {
        return text.toUtf8();
    }
    const auto* source = reinterpret_cast<const UChar*>(text.utf16());
    const auto length = static_cast<int32_t>(text.size());
    UErrorCode status = U_ZERO_ERROR;
    const int32_t needed = ucnv_fromUChars(converter.get(), nullptr, 0, source, length, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        return {};
    }
    QByteArray out(needed, Qt::Uninitialized);
    status = U_ZERO_ERROR;
    ucnv_reset(converter.get());
    ucnv_fromUChars(converter.get(), out.data(), needed, source, length, &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) {
        return {};
    }
    return out;
}

QString CodePage::decode(QByteArrayView bytes) const {
    if (m_utf8) {
        return QString::fromUtf8(bytes);
    }
    if (bytes.isEmpty()) {
        return {};
    }
    ConverterPtr converter = openConverter(m_name);
    if (!converter) {
        return QString::fromUtf8(bytes);
    }
    const auto length = static_cast<int32_t>(bytes.size());
    UErrorCode status = U_ZERO_ERROR;
    const int32_t needed =
        ucnv_toUChars(converter.get(), nullptr, 0, bytes.data(), length, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        return {};
    }
    QString out(needed, Qt::Uninitialized);
    status = U_ZERO_ERROR;
    ucnv_reset(converter.get());
    ucnv_toUChars(converter.get(), reinterpret_cast<UChar*>(out.data()), needed, bytes.data(),
                  length, &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) {
        return {};
    }
    return out;
}

}  // namespace pw
