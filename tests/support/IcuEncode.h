#pragma once
// Test files in a legacy encoding, written by ICU rather than by the code under test (a test
// whose bytes came from the reader's own converter would agree with any fault of it). Header
// only: the tests that use it link ICU themselves.
#include <unicode/ucnv.h>

#include <QByteArray>
#include <QString>

namespace pw::test {

// The text in the ICU converter's encoding ("windows-31j", "ibm-943_P15A-2003" ...); empty
// when ICU cannot convert it.
inline QByteArray encodeWithIcu(const char* converter, const QString& text) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(converter, &status);
    QByteArray out(text.size() * 4 + 16, '\0');
    const int32_t len = ucnv_fromUChars(conv, out.data(), int32_t(out.size()),
                                        reinterpret_cast<const UChar*>(text.utf16()),
                                        int32_t(text.size()), &status);
    ucnv_close(conv);
    if (U_FAILURE(status))
        return {};
    out.truncate(len);
    return out;
}

}  // namespace pw::test
