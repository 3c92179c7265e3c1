#include "smtp/Charsets.h"

#include "smtp/SmtpLanguage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <QHash>

#include <iconv.h>
#include <array>
#include <cerrno>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace pw::smtp {
namespace {

constexpr CharsetRow kRows[] = {
    {525, "Japanese (SHIFT-JIS)", "日本語 (シフト JIS)", "shift-jis", false, 932},
    {526, "Japanese (ISO)", "日本語 (JIS)", "iso-2022-jp", false, 932},
    {527, "Japanese (EUC-JP)", "日本語 (EUC)", "euc-jp", true, 932},
    {528, "English (US-ASCII)", "英語 (US-ASCII)", "us-ascii", true, 1252},
    {529, "Korean (EUC-KR)", "韓国語 (EUC-KR)", "euc-kr", true, 949},
    {530, "Chinese (BIG5)", "中国語繁体字 (BIG5)", "big5", false, 950},
    {531, "Chinese (BIG5-HKSCS)", "中国語繁体字 (BIG5-HKSCS)", "big5-hkscs", false, 950},
    {532, "Chinese (EUC-TW)", "中国語繁体字 (EUC-TW)", "euc-tw", false, 950},
    {533, "Chinese (GBK/GB2312)", "中国語簡体字 (GBK/GB2312)", "gbk/gb2312", false, 936},
    {534, "Chinese (GB18030)", "中国語簡体字 (GB18030)", "gb18030", false, 936},
    {535, "Chinese (HZ-GB2312)", "中国語簡体字 (HZ-GB2312)", "hz-gb2312", false, 936},
    {536, "Chinese (ISO)", "中国語簡体字 (ISO)", "iso-2022-cn", true, 936},
    {537, "Central European (ISO-8859-2)", "中央ヨーロッパ言語 (ISO-8859-2)", "iso-8859-2", false,
     1250},
    {538, "Central European (ISO-8859-16)", "中央ヨーロッパ言語 (ISO-8859-16)", "iso-8859-16",
     false, 1250},
    {539, "Central European (WINDOWS)", "中央ヨーロッパ言語 (Windows)", "windows-1250", true, 1250},
    {540, "Southern European (ISO)", "南ヨーロッパ言語 (ISO)", "iso-8859-3", true, 1250},
    {541, "Nordic (ISO)", "北欧言語 (ISO)", "iso-8859-10", false, 1257},
    {542, "Nordic (Windows)", "北欧言語 (Windows)", "windows-sami-2", true, 1257},
    {543, "Celtic (ISO)", "ケルト語 (ISO)", "iso-8859-14", true, 1257},
    {544, "Greek (ISO)", "ギリシャ語 (ISO)", "iso-8859-7", false, 1253},
    {545, "Greek (WINDOWS)", "ギリシャ語 (Windows)", "windows-1253", true, 1253},
    {546, "Arabic (ISO)", "アラビア語 (ISO)", "iso-8859-6", false, 1256},
    {547, "Arabic (WINDOWS)", "アラビア語 (Windows)", "windows-1256", true, 1256},
    // Appended, so that the stored "Encode" of every other row keeps its meaning.
    {548, "Unicode (UTF-8)", "Unicode (UTF-8)", "utf-8", false, kCodePageUtf8},
};

// How the bytes of one code page are made.
enum class Engine { Utf8, Icu, Hz, Iconv, ShiftJis, Iso2022Jp, EucJp };

struct CodePageInfo {
    int codePage;
    Engine engine;
    const char* converter;  // ICU or iconv name
};

// "gbk/gb2312" is no name a mail reader knows; its text goes out as GBK, which GB2312
// readers read for the common characters. "windows-sami-2" is written by glibc's
// converter of that name; ICU has neither it nor ISO-8859-16.
constexpr CodePageInfo kCodePages[] = {
    {kCodePageUtf8, Engine::Utf8, nullptr},
    {932, Engine::ShiftJis, nullptr},
    {50220, Engine::Iso2022Jp, nullptr},
    {51932, Engine::EucJp, nullptr},
    {20127, Engine::Icu, "US-ASCII"},
    {949, Engine::Icu, "windows-949"},
    {51949, Engine::Icu, "EUC-KR"},
    {950, Engine::Icu, "windows-950"},
    {kCodePageBig5Hkscs, Engine::Icu, "Big5-HKSCS"},
    {51950, Engine::Icu, "EUC-TW"},
    {936, Engine::Icu, "windows-936"},
    {54936, Engine::Icu, "gb18030"},
    {52936, Engine::Hz, "HZ"},
    {50227, Engine::Icu, "ISO-2022-CN"},
    {28591, Engine::Icu, "ISO-8859-1"},
    {28592, Engine::Icu, "ISO-8859-2"},
    {28593, Engine::Icu, "ISO-8859-3"},
    {28596, Engine::Icu, "ISO-8859-6"},
    {28597, Engine::Icu, "ISO-8859-7"},
    {kCodePageIso8859_10, Engine::Icu, "ISO-8859-10"},
    {kCodePageIso8859_14, Engine::Icu, "ISO-8859-14"},
    {kCodePageIso8859_16, Engine::Iconv, "ISO-8859-16"},
    {kCodePageWindowsSami2, Engine::Iconv, "WIN-SAMI-2"},
    {1250, Engine::Icu, "windows-1250"},
    {1252, Engine::Icu, "windows-1252"},
    {1253, Engine::Icu, "windows-1253"},
    {1256, Engine::Icu, "windows-1256"},
    {1257, Engine::Icu, "windows-1257"},
};

struct CharsetCodePage {
    const char* name;
    int codePage;
};

constexpr CharsetCodePage kCharsetCodePages[] = {
    {"shift-jis", 932},
    {"shift_jis", 932},
    {"iso-2022-jp", 50220},
    {"euc-jp", 51932},
    {"us-ascii", 20127},
    {"euc-kr", 51949},
    {"big5", 950},
    {"big5-hkscs", kCodePageBig5Hkscs},
    {"euc-tw", 51950},
    {"gbk/gb2312", 936},
    {"gbk", 936},
    {"gb2312", 936},
    {"gb18030", 54936},
    {"hz-gb2312", 52936},
    {"hz-gb-2312", 52936},
    {"iso-2022-cn", 50227},
    {"iso-8859-1", 28591},
    {"iso-8859-2", 28592},
    {"iso-8859-16", kCodePageIso8859_16},
    {"windows-1250", 1250},
    {"iso-8859-3", 28593},
    {"iso-8859-10", kCodePageIso8859_10},
    {"windows-sami-2", kCodePageWindowsSami2},
    {"iso-8859-14", kCodePageIso8859_14},
    {"iso-8859-7", 28597},
    {"windows-1253", 1253},
    {"iso-8859-6", 28596},
    {"windows-1256", 1256},
    {"windows-1252", 1252},
    {"utf-8", kCodePageUtf8},
};

const CodePageInfo* codePageInfo(int codePage) {
    for (const auto& info : kCodePages) {
        if (info.codePage == codePage) {
            return &info;
        }
    }
    return nullptr;
}

// ---- ICU ----

struct SubstitutionCounter {
    int count = 0;
};

void countingSubstitute(const void* context, UConverterFromUnicodeArgs* args, const UChar* units,
                        int32_t length, UChar32 codePoint, UConverterCallbackReason reason,
                        UErrorCode* err) {
    if (reason <= UCNV_IRREGULAR && context != nullptr) {
        ++static_cast<SubstitutionCounter*>(const_cast<void*>(context))->count;
    }
    UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, codePoint, reason, err);
}

struct IcuCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using IcuConverter = std::unique_ptr<UConverter, IcuCloser>;

// One converter per code page and thread: opening one costs more than converting a line.
UConverter* icuConverter(const CodePageInfo& info) {
    thread_local std::unordered_map<int, IcuConverter> cache;
    auto it = cache.find(info.codePage);
    if (it != cache.end()) {
        return it->second.get();
    }
    UErrorCode err = U_ZERO_ERROR;
    IcuConverter converter(ucnv_open(info.converter, &err));
    if (U_FAILURE(err)) {
        return nullptr;
    }
    // Best-fit mappings where the code page has them (¥ to 5C, — to 815C), as Windows
    // converts; "?" for the rest.
    ucnv_setFallback(converter.get(), true);
    err = U_ZERO_ERROR;
    ucnv_setSubstChars(converter.get(), "?", 1, &err);
    UConverter* raw = converter.get();
    cache.emplace(info.codePage, std::move(converter));
    return raw;
}

QByteArray encodeIcu(UConverter* converter, QStringView text, int* substituted) {
    SubstitutionCounter counter;
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter, countingSubstitute, &counter, nullptr, nullptr, &err);
    ucnv_resetFromUnicode(converter);
    const auto length = static_cast<int32_t>(text.size());
    QByteArray out(UCNV_GET_MAX_BYTES_FOR_STRING(length, ucnv_getMaxCharSize(converter)) + 16,
                   Qt::Uninitialized);
    err = U_ZERO_ERROR;
    int32_t written = ucnv_fromUChars(converter, out.data(), static_cast<int32_t>(out.size()),
                                      reinterpret_cast<const UChar*>(text.utf16()), length, &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(written + 1);
        err = U_ZERO_ERROR;
        counter.count = 0;
        written = ucnv_fromUChars(converter, out.data(), static_cast<int32_t>(out.size()),
                                  reinterpret_cast<const UChar*>(text.utf16()), length, &err);
    }
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr,
                          &err);
    if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) {
        if (substituted) {
            *substituted = static_cast<int>(text.size());
        }
        return QByteArray(text.size(), '?');
    }
    out.resize(written);
    if (substituted) {
        *substituted = counter.count;
    }
    return out;
}

// ICU's HZ converter starts as if in GB mode (a text opening with ASCII gets a stray "~}"),
// does not shift back to ASCII at the end of a text and keeps its shift state from one text
// to the next: each text gets a converter of its own, no opening "~}" and a closing one.
bool hzEndsInGbMode(const QByteArray& bytes) {
    bool gb = false;
    qsizetype i = 0;
    while (i < bytes.size()) {
        if (!gb) {
            if (bytes[i] == '~' && i + 1 < bytes.size()) {
                if (bytes[i + 1] == '{') {
                    gb = true;
                }
                i += 2;
            } else {
                ++i;
            }
        } else if (bytes[i] == '~' && i + 1 < bytes.size() && bytes[i + 1] == '}') {
            gb = false;
            i += 2;
        } else {
            i += 2;  // a GB pair
        }
    }
    return gb;
}

QByteArray encodeHz(const char* name, QStringView text, int* substituted) {
    UErrorCode err = U_ZERO_ERROR;
    IcuConverter converter(ucnv_open(name, &err));
    if (U_FAILURE(err)) {
        return text.toUtf8();
    }
    ucnv_setFallback(converter.get(), true);
    err = U_ZERO_ERROR;
    ucnv_setSubstChars(converter.get(), "?", 1, &err);
    QByteArray out = encodeIcu(converter.get(), text, substituted);
    if (out.startsWith("~}")) {
        out.remove(0, 2);
    }
    if (hzEndsInGbMode(out)) {
        out.append("~}", 2);
    }
    return out;
}

// ---- iconv, for the two rows ICU lacks ----

QByteArray encodeIconv(const char* name, QStringView text, int* substituted) {
    int count = 0;
    QByteArray out;
    iconv_t cd = iconv_open(name, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (substituted) {
            *substituted = static_cast<int>(text.size());
        }
        return QByteArray(text.size(), '?');
    }
    QByteArray in = text.toUtf8();
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    out.reserve(in.size() + 16);
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<qsizetype>(outPtr - buffer));
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG) {
                continue;
            }
            // An unmappable character: "?" for it, and go on after its UTF-8 sequence.
            ++count;
            out.append('?');
            size_t skip = 1;
            while (skip < inLeft && (static_cast<unsigned char>(inPtr[skip]) & 0xC0) == 0x80) {
                ++skip;
            }
            inPtr += skip;
            inLeft -= skip;
        }
    }
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<qsizetype>(outPtr - buffer));
    iconv_close(cd);
    if (substituted) {
        *substituted = count;
    }
    return out;
}

// ---- Japanese ----
//
// Shift_JIS mail carries the bytes of Windows code page 932. ISO-2022-JP and EUC-JP mail
// carry the same characters in their JIS form, as Windows mail programs send them: the NEC
// row 13 (①, ㈱, Ⅲ) as it stands, the IBM extensions (髙, 﨑) in their NEC-selected rows
// 89-92, and half-width katakana folded to full-width in ISO-2022-JP.

struct JapaneseTables {
    // Code page 932 code of every BMP character: < 0x100 a single byte, else lead << 8 |
    // trail; 0 where there is none (U+0000 is handled by the caller).
    std::array<quint16, 0x10000> cp932{};
    // The same character below lead byte 0xF0, for the JIS forms; 0 where there is none.
    std::unordered_map<char16_t, quint16> belowF0;
};

const JapaneseTables& japaneseTables() {
    static const std::unique_ptr<const JapaneseTables> tables = [] {
        auto t = std::make_unique<JapaneseTables>();
        UErrorCode err = U_ZERO_ERROR;
        IcuConverter converter(ucnv_open("windows-31j", &err));
        if (U_FAILURE(err)) {
            return std::unique_ptr<const JapaneseTables>(std::move(t));
        }
        ucnv_setFallback(converter.get(), true);
        err = U_ZERO_ERROR;
        ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                              &err);
        for (char32_t u = 1; u < 0x10000; ++u) {
            if (u >= 0xD800 && u <= 0xDFFF) {
                continue;
            }
            const UChar unit = static_cast<UChar>(u);
            char out[8];
            err = U_ZERO_ERROR;
            const int32_t n = ucnv_fromUChars(converter.get(), out, sizeof out, &unit, 1, &err);
            if (U_FAILURE(err)) {
                continue;
            }
            if (n == 1) {
                t->cp932[u] = static_cast<unsigned char>(out[0]);
            } else if (n == 2) {
                t->cp932[u] = static_cast<quint16>(static_cast<unsigned char>(out[0]) << 8 |
                                                   static_cast<unsigned char>(out[1]));
            }
        }
        // Decoding every double-byte code below 0xF0 finds the NEC-selected twin of each
        // IBM extension character; the first (standard) code of a character wins.
        for (int lead = 0x81; lead <= 0xEF; ++lead) {
            if (lead >= 0xA0 && lead <= 0xDF) {
                continue;
            }
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                if (trail == 0x7F) {
                    continue;
                }
                const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                UChar out[4];
                err = U_ZERO_ERROR;
                const int32_t n = ucnv_toUChars(converter.get(), out, 4, in, 2, &err);
                if (U_FAILURE(err) || n != 1 || out[0] == 0xFFFD || out[0] == 0x1A) {
                    continue;
                }
                t->belowF0.emplace(out[0], static_cast<quint16>(lead << 8 | trail));
            }
        }
        return std::unique_ptr<const JapaneseTables>(std::move(t));
    }();
    return *tables;
}

// Half-width katakana in full width, voiced marks joined (NFKC); a lone voiced mark
// becomes the spacing one, which the JIS set has.
QString foldHalfWidthKatakana(QStringView text) {
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const char16_t c = text[i].unicode();
        if (c >= 0xFF61 && c <= 0xFF9F) {
            qsizetype j = i;
            while (j < text.size() && text[j].unicode() >= 0xFF61 && text[j].unicode() <= 0xFF9F) {
                ++j;
            }
            QString run = text.mid(i, j - i).toString().normalized(QString::NormalizationForm_KC);
            for (QChar& ch : run) {
                if (ch.unicode() == 0x3099) {
                    ch = QChar(0x309B);
                } else if (ch.unicode() == 0x309A) {
                    ch = QChar(0x309C);
                }
            }
            out += run;
            i = j;
        } else {
            out += text[i];
            ++i;
        }
    }
    return out;
}

// JIS row and cell bytes (0x21 ... 0x7E each) of a double-byte code below lead 0xF0.
quint16 sjisToJis(quint16 code) {
    int s1 = code >> 8;
    const int s2 = code & 0xFF;
    if (s1 >= 0xE0) {
        s1 -= 0x40;
    }
    int row = (s1 - 0x81) * 2;
    int j2;
    if (s2 >= 0x9F) {
        ++row;
        j2 = s2 - 0x9F + 0x21;
    } else {
        j2 = s2 - 0x40 + 0x21 - (s2 >= 0x80 ? 1 : 0);
    }
    return static_cast<quint16>((0x21 + row) << 8 | j2);
}

// The code page 932 code of the character at text[i] (advancing i past it), 0 when there
// is none.
quint16 cp932CodeAt(const JapaneseTables& t, QStringView text, qsizetype& i) {
    const char16_t c = text[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
        QChar::isLowSurrogate(text[i + 1].unicode())) {
        i += 2;  // no character outside the BMP is in the Japanese sets
        return 0;
    }
    ++i;
    if (c == 0) {
        return 0x100;  // marks U+0000, which is a byte of its own
    }
    return t.cp932[c];
}

enum class JisForm { Iso2022, Euc };

quint16 jisCode(const JapaneseTables& t, char16_t c, quint16 code) {
    if (code >= 0xF000) {
        auto it = t.belowF0.find(c);
        if (it == t.belowF0.end()) {
            return 0;
        }
        code = it->second;
    }
    return sjisToJis(code);
}

QByteArray encodeShiftJis(QStringView text, int* substituted) {
    const JapaneseTables& t = japaneseTables();
    QByteArray out;
    out.reserve(text.size() * 2);
    int count = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const quint16 code = cp932CodeAt(t, text, i);
        if (code == 0x100) {
            out.append('\0');
        } else if (code == 0) {
            ++count;
            out.append('?');
        } else if (code < 0x100) {
            out.append(static_cast<char>(code));
        } else {
            out.append(static_cast<char>(code >> 8));
            out.append(static_cast<char>(code & 0xFF));
        }
    }
    if (substituted) {
        *substituted = count;
    }
    return out;
}

QByteArray encodeJis(QStringView input, JisForm form, int* substituted) {
    const JapaneseTables& t = japaneseTables();
    const QString folded = form == JisForm::Iso2022 ? foldHalfWidthKatakana(input) : QString();
    const QStringView text = form == JisForm::Iso2022 ? QStringView(folded) : input;
    QByteArray out;
    out.reserve(text.size() * 2 + 8);
    int count = 0;
    bool inJis = false;
    auto toAscii = [&] {
        if (inJis) {
            out.append("\x1b(B", 3);
            inJis = false;
        }
    };
    qsizetype i = 0;
    while (i < text.size()) {
        const char16_t c = text[i].unicode();
        const quint16 code = cp932CodeAt(t, text, i);
        if (code == 0x100) {
            toAscii();
            out.append('\0');
            continue;
        }
        if (code != 0 && code < 0x80) {
            toAscii();
            out.append(static_cast<char>(code));
            continue;
        }
        if (code >= 0xA1 && code <= 0xDF && form == JisForm::Euc) {
            out.append('\x8e');
            out.append(static_cast<char>(code));
            continue;
        }
        const quint16 jis = code > 0xFF ? jisCode(t, c, code) : 0;
        if (jis == 0) {
            ++count;
            toAscii();
            out.append('?');
            continue;
        }
        if (form == JisForm::Euc) {
            out.append(static_cast<char>((jis >> 8) | 0x80));
            out.append(static_cast<char>((jis & 0xFF) | 0x80));
        } else {
            if (!inJis) {
                out.append("\x1b$B", 3);
                inJis = true;
            }
            out.append(static_cast<char>(jis >> 8));
            out.append(static_cast<char>(jis & 0xFF));
        }
    }
    toAscii();
    if (substituted) {
        *substituted = count;
    }
    return out;
}

// Whether a code page 932 code lies in the JIS X 0208 rows (1-8, 16-84) rather than in NEC
// row 13, the NEC-selected IBM rows or the IBM extension.
bool isStandardJisCode(quint16 code) {
    if (code <= 0x100)
        return true;
    const int lead = code >> 8;
    return (lead >= 0x81 && lead <= 0x84) || (lead >= 0x88 && lead <= 0x9F) ||
           (lead >= 0xE0 && lead <= 0xEA);
}

bool isStandardCharacter(const JapaneseTables& t, QStringView text) {
    for (qsizetype i = 0; i < text.size();) {
        const quint16 code = cp932CodeAt(t, text, i);
        if (code == 0 || !isStandardJisCode(code))
            return false;
    }
    return true;
}

// IBM extension kanji whose everyday form is in JIS X 0208 (names are written with either).
constexpr std::pair<char16_t, char16_t> kKanjiEquivalents[] = {
    {u'髙', u'高'}, {u'﨑', u'崎'}, {u'德', u'徳'}, {u'濵', u'浜'}, {u'瀨', u'瀬'}, {u'黑', u'黒'},
    {u'靑', u'青'}, {u'緖', u'緒'}, {u'淸', u'清'}, {u'敎', u'教'}, {u'鄕', u'郷'}, {u'郞', u'郎'},
    {u'昻', u'昂'}, {u'增', u'増'}, {u'寬', u'寛'}, {u'橫', u'横'}, {u'綠', u'緑'}, {u'賴', u'頼'},
    {u'薰', u'薫'}, {u'栁', u'柳'}, {u'桒', u'桑'},
};

}  // namespace

bool isJisCharset(QStringView charset) {
    const int cp = codePageForCharset(charset);
    return cp == 932 || cp == 50220 || cp == 51932;
}

int jisExtensionCount(QStringView text, QStringView charset) {
    if (!isJisCharset(charset))
        return 0;
    const JapaneseTables& t = japaneseTables();
    int count = 0;
    for (qsizetype i = 0; i < text.size();) {
        const quint16 code = cp932CodeAt(t, text, i);
        if (code != 0 && !isStandardJisCode(code))
            ++count;
    }
    return count;
}

QString withStandardEquivalents(QStringView text) {
    const JapaneseTables& t = japaneseTables();
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype at = i;
        const quint16 code = cp932CodeAt(t, text, i);
        const QStringView character = text.mid(at, i - at);
        if (code == 0 || isStandardJisCode(code)) {
            out += character;
            continue;
        }
        const char16_t c = character.front().unicode();
        if (c >= 0x2460 && c <= 0x2473) {  // ① ... ⑳
            out += QStringLiteral("(%1)").arg(c - 0x2460 + 1);
            continue;
        }
        QString equivalent;
        for (const auto& [from, to] : kKanjiEquivalents) {
            if (from == c)
                equivalent = QChar(to);
        }
        if (equivalent.isEmpty())
            equivalent = character.toString().normalized(QString::NormalizationForm_KC);
        out += isStandardCharacter(t, equivalent) ? equivalent : character.toString();
    }
    return out;
}

std::span<const CharsetRow> charsetTable() {
    return kRows;
}

int charsetCount() {
    return static_cast<int>(std::size(kRows));
}

bool isCharsetRow(int index) {
    return index >= 0 && index < charsetCount();
}

int utf8CharsetRow() {
    return charsetCount() - 1;
}

const char* codePageConverterName(int windowsCodePage) {
    switch (windowsCodePage) {
        case 932:
            return "windows-31j";
        case kCodePageUtf8:
            return "UTF-8";
        default:
            break;
    }
    for (const auto& info : kCodePages) {
        if (info.codePage == windowsCodePage && info.converter != nullptr) {
            return info.converter;
        }
    }
    return nullptr;
}

const CharsetRow& charsetRow(int index) {
    if (index < 0 || index >= charsetCount()) {
        return kRows[0];
    }
    return kRows[index];
}

QString charsetDisplayName(int index) {
    const CharsetRow& row = charsetRow(index);
    return QString::fromUtf8(textLanguage() == TextLanguage::Japanese ? row.japaneseName
                                                                      : row.englishName);
}

int codePageForCharset(QStringView mimeName) {
    const QString name = mimeName.trimmed().toString().toLower();
    for (const auto& entry : kCharsetCodePages) {
        if (name == QLatin1StringView(entry.name)) {
            return entry.codePage;
        }
    }
    return 0;
}

QByteArray encodeForCodePage(QStringView text, int codePage, int* substituted) {
    if (substituted) {
        *substituted = 0;
    }
    if (text.isEmpty()) {
        return {};
    }
    const CodePageInfo* info = codePageInfo(codePage);
    if (info == nullptr || info->engine == Engine::Utf8) {
        return text.toUtf8();
    }
    switch (info->engine) {
        case Engine::ShiftJis:
            return encodeShiftJis(text, substituted);
        case Engine::Iso2022Jp:
            return encodeJis(text, JisForm::Iso2022, substituted);
        case Engine::EucJp:
            return encodeJis(text, JisForm::Euc, substituted);
        case Engine::Iconv:
            return encodeIconv(info->converter, text, substituted);
        case Engine::Hz:
            return encodeHz(info->converter, text, substituted);
        case Engine::Icu:
            if (UConverter* converter = icuConverter(*info)) {
                return encodeIcu(converter, text, substituted);
            }
            return text.toUtf8();
        case Engine::Utf8:
            break;
    }
    return text.toUtf8();
}

QByteArray textToBytes(QStringView text, QStringView charset, int codePage, int* substituted) {
    if (charset.compare(u"UTF-8", Qt::CaseInsensitive) == 0) {
        if (substituted) {
            *substituted = 0;
        }
        return text.toUtf8();
    }
    return encodeForCodePage(text, codePage, substituted);
}

int byteWeight(QStringView character, int codePage) {
    if (character.isEmpty()) {
        return 0;
    }
    if (codePage == 932) {
        const JapaneseTables& t = japaneseTables();
        qsizetype i = 0;
        const quint16 code = cp932CodeAt(t, character, i);
        return code > 0x100 ? 2 : 1;
    }
    return static_cast<int>(encodeForCodePage(character, codePage).size());
}

}  // namespace pw::smtp
