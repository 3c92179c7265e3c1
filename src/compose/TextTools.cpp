#include "compose/TextTools.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <QStringList>
#include <algorithm>

#include "resources/Strings.h"
#include "resources/UserInteraction.h"

namespace pw {

TextCounts countText(const QString& text, const CodePage& codePage) {
    return {text.size(), codePage.encode(text).size()};
}

int leadingNumber(const QString& text) {
    qint64 n = 0;
    for (QChar c : text.trimmed()) {
        if (c < u'0' || c > u'9') {
            break;
        }
        n = std::min<qint64>(n * 10 + (c.unicode() - u'0'), 1'000'000'000);
    }
    return static_cast<int>(n);
}

bool confirmAutoWrap(AutoWrapState& state, bool checked, const QString& field,
                     IUserInteraction& ui) {
    const int number = leadingNumber(field);
    if (!checked) {
        state.wrapSwitch = QStringLiteral("false");
        state.lineLength = number;
        return true;
    }
    state.wrapSwitch = QStringLiteral("true");
    if (number > 1) {
        state.lineLength = number;
        return true;
    }
    (void)ui.message(str(ids::kAutoWrapCaption), str(ids::kAutoWrapInvalid),
                     MessageKind::Information);
    state.wrapSwitch = QStringLiteral("false");
    return false;
}

bool isHalfWidthKatakana(QChar c) {
    return c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F;
}

bool containsHalfWidthKatakana(const QString& text) {
    return std::any_of(text.begin(), text.end(), isHalfWidthKatakana);
}

namespace {

QString nfkc(const QString& run) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status) || n == nullptr) {
        return run;
    }
    const icu::UnicodeString in(reinterpret_cast<const UChar*>(run.utf16()),
                                static_cast<int32_t>(run.size()));
    const icu::UnicodeString out = n->normalize(in, status);
    if (U_FAILURE(status)) {
        return run;
    }
    QString result(reinterpret_cast<const QChar*>(out.getBuffer()), out.length());
    // a sound mark with nothing to join stays a visible mark of its own
    result.replace(QChar(0x3099), QChar(0x309B));
    result.replace(QChar(0x309A), QChar(0x309C));
    return result;
}

}  // namespace

QString toFullWidthKatakana(const QString& text) {
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        if (!isHalfWidthKatakana(text.at(i))) {
            out += text.at(i++);
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && isHalfWidthKatakana(text.at(end))) {
            ++end;
        }
        out += nfkc(text.mid(i, end - i));
        i = end;
    }
    return out;
}

std::optional<QString> checkKatakana(const QString& text, IUserInteraction& ui) {
    if (!containsHalfWidthKatakana(text)) {
        (void)ui.message(str(ids::kKatakanaCaption), str(ids::kKatakanaNone),
                         MessageKind::Information);
        return std::nullopt;
    }
    if (ui.message(str(ids::kKatakanaCaption), str(ids::kKatakanaFound), MessageKind::YesNo) !=
        Answer::Yes) {
        return std::nullopt;
    }
    return toFullWidthKatakana(text);
}

QString autoLine(const QString& lineText, int count, AutoLineMode mode) {
    if (count <= 0 || lineText.isEmpty()) {
        return {};
    }
    if (mode == AutoLineMode::Repetitions) {
        return lineText.repeated(count);
    }
    QString out;
    while (out.size() < count) {
        out += lineText;
    }
    return out.left(count);
}

FramedText autoFrame(const QString& text, qsizetype selectionStart, qsizetype selectionEnd,
                     const QString& frame) {
    FramedText result{text, selectionStart, selectionEnd};
    if (frame.isEmpty()) {
        return result;
    }
    selectionStart = std::clamp<qsizetype>(selectionStart, 0, text.size());
    selectionEnd = std::clamp<qsizetype>(selectionEnd, selectionStart, text.size());
    // the lines: from the start of the selection's first line to the end of its last one
    const qsizetype first =
        selectionStart == 0 ? 0 : text.lastIndexOf(u'\n', selectionStart - 1) + 1;
    qsizetype endAt = selectionEnd;
    if (selectionEnd > selectionStart && selectionEnd > 0 && text.at(selectionEnd - 1) == u'\n') {
        endAt = selectionEnd - 1;  // a selection ending at a line start leaves that line out
    }
    qsizetype last = text.indexOf(u'\n', std::max(endAt, first));
    if (last < 0) {
        last = text.size();
    }
    const QStringList lines = text.mid(first, last - first).split(u'\n');
    qsizetype width = 0;
    for (const QString& l : lines) {
        width = std::max(width, l.size());
    }
    const qsizetype n = frame.size();
    QString border;
    for (qsizetype i = 0; i < width + 2 * n; ++i) {
        border += frame.at(i % n);
    }
    QString framed = border + u'\n';
    for (int i = 0; i < lines.size(); ++i) {
        framed += frame + lines.at(i) + QString(width - lines.at(i).size(), u' ') + frame + u'\n';
    }
    const bool atEnd = last >= text.size();
    if (atEnd) {
        framed += border;
    } else {
        framed += border;
        framed += u'\n';
    }
    // the line break after the last line becomes the one after the lower border
    const qsizetype replaceEnd = atEnd ? last : last + 1;
    result.text = text.left(first) + framed + text.mid(replaceEnd);
    result.selectionStart = first;
    result.selectionEnd = first + framed.size();
    return result;
}

}  // namespace pw
