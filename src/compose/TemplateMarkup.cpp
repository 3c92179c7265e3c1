#include "compose/TemplateMarkup.h"

#include <array>

namespace pw {

namespace {

struct Keyword {
    QLatin1StringView text;
    TagKind kind;
};

// each kind in lower and in upper case, nothing in between
constexpr std::array<Keyword, 8> kKeywords{{
    {QLatin1StringView("<!image"), TagKind::Image},
    {QLatin1StringView("<!IMAGE"), TagKind::Image},
    {QLatin1StringView("<!string"), TagKind::String},
    {QLatin1StringView("<!STRING"), TagKind::String},
    {QLatin1StringView("<!back"), TagKind::Back},
    {QLatin1StringView("<!BACK"), TagKind::Back},
    {QLatin1StringView("<!bgcolor"), TagKind::BgColor},
    {QLatin1StringView("<!BGCOLOR"), TagKind::BgColor},
}};

// The block starting at pos, if one does.
std::optional<TagProp> blockAt(const QString& doc, qsizetype pos) {
    for (const Keyword& k : kKeywords) {
        if (!QStringView(doc).mid(pos).startsWith(k.text)) {
            continue;
        }
        const qsizetype afterKeyword = pos + k.text.size();
        if (!QStringView(doc).mid(afterKeyword).startsWith(u"=\"")) {
            continue;
        }
        const qsizetype promptStart = afterKeyword + 2;
        const qsizetype promptEnd = doc.indexOf(QLatin1StringView("\">"), promptStart);
        if (promptEnd < 0) {
            return std::nullopt;
        }
        const qsizetype contentStart = promptEnd + 2;
        const QString endTag = k.text + QLatin1StringView("-end>");
        const qsizetype endStart = doc.indexOf(endTag, contentStart);
        if (endStart < 0) {
            return std::nullopt;
        }
        TagProp t;
        t.keyword = k.text;
        t.kind = k.kind;
        t.prompt = doc.mid(promptStart, promptEnd - promptStart);
        t.start = pos;
        t.startEnd = promptEnd + 1;
        t.endStart = endStart;
        t.endLast = endStart + endTag.size() - 1;
        t.content = doc.mid(contentStart, endStart - contentStart);
        return t;
    }
    return std::nullopt;
}

// The attribute whose value holds the page's value, in the spellings a template uses.
QList<QLatin1StringView> attributesOf(TagKind kind) {
    switch (kind) {
        case TagKind::Image:
            return {QLatin1StringView("<img src=\""), QLatin1StringView("<IMG SRC=\"")};
        case TagKind::Back:
            return {QLatin1StringView("background=\""), QLatin1StringView("BACKGROUND=\"")};
        case TagKind::BgColor:
            return {QLatin1StringView("bgcolor=\""), QLatin1StringView("BGCOLOR=\"")};
        case TagKind::String:
            break;
    }
    return {};
}

bool isHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

}  // namespace

QList<TagProp> scanTemplate(const QString& document) {
    QList<TagProp> pages;
    qsizetype pos = 0;
    while ((pos = document.indexOf(QLatin1StringView("<!"), pos)) >= 0) {
        if (auto block = blockAt(document, pos)) {
            pos = block->endLast + 1;
            pages.append(std::move(*block));
        } else {
            ++pos;
        }
    }
    return pages;
}

CTemplateDocument::CTemplateDocument(QString text)
    : m_text(std::move(text)), m_pages(scanTemplate(m_text)) {}

std::optional<std::pair<qsizetype, qsizetype>> CTemplateDocument::valueSpan(int page) const {
    if (page < 0 || page >= pageCount()) {
        return std::nullopt;
    }
    const TagProp& t = m_pages.at(page);
    qsizetype best = -1;
    qsizetype attrLength = 0;
    for (const QLatin1StringView attr : attributesOf(t.kind)) {
        const qsizetype at = m_text.indexOf(attr, t.startEnd);
        if (at >= 0 && at < t.endStart && (best < 0 || at < best)) {
            best = at;
            attrLength = attr.size();
        }
    }
    if (best < 0) {
        return std::nullopt;
    }
    const qsizetype from = best + attrLength;
    const qsizetype close = m_text.indexOf(u'"', from);
    if (close < 0 || close > t.endStart) {
        return std::nullopt;
    }
    return std::pair{from, close - from};
}

std::optional<QString> CTemplateDocument::value(int page) const {
    const auto span = valueSpan(page);
    if (!span) {
        return std::nullopt;
    }
    return m_text.mid(span->first, span->second);
}

bool CTemplateDocument::setValue(int page, const QString& value) {
    const auto span = valueSpan(page);
    if (!span) {
        return false;
    }
    replace(page, span->first, span->second, value);
    return true;
}

void CTemplateDocument::setContent(int page, const QString& content) {
    if (page < 0 || page >= pageCount()) {
        return;
    }
    const TagProp& t = m_pages.at(page);
    replace(page, t.startEnd + 1, t.endStart - t.startEnd - 1, content);
}

void CTemplateDocument::replace(int page, qsizetype from, qsizetype length, const QString& with) {
    m_text.replace(from, length, with);
    const qsizetype delta = with.size() - length;
    TagProp& t = m_pages[page];
    t.endStart += delta;
    t.endLast += delta;
    for (int k = page + 1; k < pageCount(); ++k) {
        TagProp& later = m_pages[k];
        later.start += delta;
        later.startEnd += delta;
        later.endStart += delta;
        later.endLast += delta;
    }
    t.content = m_text.mid(t.startEnd + 1, t.endStart - t.startEnd - 1);
}

bool isWebReference(const QString& value) {
    return value.contains(QLatin1StringView("http:"));
}

QString pictureValueToWrite(const QString& value) {
    if (isWebReference(value)) {
        return value;
    }
    const qsizetype cut = std::max(value.lastIndexOf(u'/'), value.lastIndexOf(u'\\'));
    return value.mid(cut + 1);
}

std::optional<Rgb> parseHtmlColor(const QString& text) {
    if (text.size() < 7 || text.at(0) != u'#') {
        return std::nullopt;
    }
    for (int i = 1; i < 7; ++i) {
        if (!isHexDigit(text.at(i))) {
            return std::nullopt;
        }
    }
    return 0xff000000u | (text.mid(1, 6).toUInt(nullptr, 16) & 0xffffffu);
}

QString htmlColor(Rgb color) {
    return QStringLiteral("#%1").arg(color & 0xffffffu, 6, 16, QLatin1Char('0')).toUpper();
}

int LinkTable::indexOf(const QString& target) {
    if (target.isEmpty()) {
        return 0;
    }
    const qsizetype at = m_targets.indexOf(target);
    if (at > 0) {
        return static_cast<int>(at);
    }
    m_targets.append(target);
    return static_cast<int>(m_targets.size() - 1);
}

int sizeStepFromPoints(int points, int defaultPoints) {
    return points - defaultPoints + 3;
}

int pointsFromSizeStep(int step, int defaultPoints) {
    return defaultPoints + step - 3;
}

namespace {

// One tag of the raw content with where it falls in the text without tags.
struct RawTag {
    QString text;       // "<...>" as written
    qsizetype plainAt;  // position in the plain text
};

QString lowerName(const QString& tag) {
    // "<font face=..>" -> "font", "</b>" -> "/b", "<br/>" -> "br"
    qsizetype i = 1;
    QString name;
    while (i < tag.size() && tag.at(i) != u'>' && !tag.at(i).isSpace()) {
        name += tag.at(i).toLower();
        ++i;
    }
    if (name.endsWith(u'/') && name.size() > 1) {
        name.chop(1);
    }
    return name;
}

// An attribute's value by name: quoted to the closing quote, unquoted to the next blank.
QString attribute(const QString& tag, QLatin1StringView name) {
    qsizetype pos = 0;
    while (true) {
        pos = tag.indexOf(name, pos, Qt::CaseInsensitive);
        if (pos < 0) {
            return {};
        }
        const bool boundary = pos > 0 && (tag.at(pos - 1).isSpace() || tag.at(pos - 1) == u'"');
        qsizetype at = pos + name.size();
        while (at < tag.size() && tag.at(at).isSpace()) {
            ++at;
        }
        if (!boundary || at >= tag.size() || tag.at(at) != u'=') {
            pos += name.size();
            continue;
        }
        ++at;
        while (at < tag.size() && tag.at(at).isSpace()) {
            ++at;
        }
        if (at < tag.size() && (tag.at(at) == u'"' || tag.at(at) == u'\'')) {
            const QChar quote = tag.at(at);
            const qsizetype close = tag.indexOf(quote, at + 1);
            return close < 0 ? tag.mid(at + 1) : tag.mid(at + 1, close - at - 1);
        }
        qsizetype end = at;
        while (end < tag.size() && !tag.at(end).isSpace() && tag.at(end) != u'>') {
            ++end;
        }
        return tag.mid(at, end - at);
    }
}

}  // namespace

StyledText parseTextMarkup(const QString& content, const TextDefaults& defaults, LinkTable& links) {
    QString raw = content;
    raw.remove(u'\t');
    raw.remove(u'\r');
    raw.remove(u'\n');

    StyledText out;
    std::vector<RawTag> tags;
    qsizetype i = 0;
    while (i < raw.size()) {
        const QChar c = raw.at(i);
        if (c == u'<') {
            const qsizetype close = raw.indexOf(u'>', i + 1);
            if (close > i) {
                const QString tag = raw.mid(i, close - i + 1);
                if (lowerName(tag) == u"br") {
                    out.text += u'\n';
                } else {
                    tags.push_back({tag, out.text.size()});
                }
                i = close + 1;
                continue;
            }
        }
        out.text += c;
        ++i;
    }
    out.formats.assign(static_cast<size_t>(out.text.size()), defaults.plain());

    // each kind of pair from the start of the text, in this order
    const auto overlay = [&](QLatin1StringView open, auto&& apply) {
        for (size_t t = 0; t < tags.size(); ++t) {
            if (lowerName(tags[t].text) != open) {
                continue;
            }
            const QString closeName = QLatin1Char('/') + open;
            for (size_t u = t + 1; u < tags.size(); ++u) {
                if (lowerName(tags[u].text) == closeName) {
                    for (qsizetype p = tags[t].plainAt; p < tags[u].plainAt; ++p) {
                        apply(out.formats[static_cast<size_t>(p)], tags[t].text);
                    }
                    t = u;
                    break;
                }
            }
        }
    };
    overlay(QLatin1StringView("i"), [](CharFormat& f, const QString&) { f.italic = true; });
    overlay(QLatin1StringView("b"), [](CharFormat& f, const QString&) { f.bold = true; });
    overlay(QLatin1StringView("font"), [&](CharFormat& f, const QString& tag) {
        bool ok = false;
        const int size = attribute(tag, QLatin1StringView("size")).trimmed().toInt(&ok);
        if (ok) {
            f.sizePt = pointsFromSizeStep(size, defaults.sizePt);
        }
        const QString face = attribute(tag, QLatin1StringView("face"));
        if (!face.isEmpty()) {
            f.face = face;
        }
        if (auto color = parseHtmlColor(attribute(tag, QLatin1StringView("color")))) {
            f.color = color;
        }
    });
    overlay(QLatin1StringView("a"), [&](CharFormat& f, const QString& tag) {
        f.link = links.indexOf(attribute(tag, QLatin1StringView("href")));
    });
    return out;
}

QString writeTextMarkup(const StyledText& styled, const TextDefaults& defaults,
                        const LinkTable& links) {
    QString text = styled.text;
    if (text.endsWith(u'\n')) {
        text.chop(1);
    }
    QString out;
    QStringList due;  // closing tags, the last opened last
    CharFormat previous = defaults.plain();
    const auto closeAll = [&] {
        while (!due.isEmpty()) {
            out += due.takeLast();
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const CharFormat& f = static_cast<size_t>(i) < styled.formats.size()
                                  ? styled.formats[static_cast<size_t>(i)]
                                  : defaults.plain();
        if (i == 0 ? f != defaults.plain() : f != previous) {
            closeAll();
            QString attrs;
            if (f.face != defaults.face && !f.face.isEmpty()) {
                attrs += QStringLiteral(" face=\"") + f.face + u'"';
            }
            if (f.sizePt != defaults.sizePt) {
                attrs += QStringLiteral(" size=\"") +
                         QString::number(sizeStepFromPoints(f.sizePt, defaults.sizePt)) + u'"';
            }
            if (f.color) {
                attrs += QStringLiteral(" color=\"") + htmlColor(*f.color) + u'"';
            }
            if (!attrs.isEmpty()) {
                out += QStringLiteral("<font") + attrs + u'>';
                due.append(QStringLiteral("</font>"));
            }
            if (f.bold) {
                out += QStringLiteral("<b>");
                due.append(QStringLiteral("</b>"));
            }
            if (f.italic) {
                out += QStringLiteral("<i>");
                due.append(QStringLiteral("</i>"));
            }
            const QString target = links.target(f.link);
            if (!target.isEmpty()) {
                out += QStringLiteral("<a href=\"") + target + QStringLiteral("\">");
                due.append(QStringLiteral("</a>"));
            }
        }
        previous = f;
        const QChar c = text.at(i);
        if (c == u'\n') {
            out += QStringLiteral("<br>");
        } else {
            out += c;
        }
    }
    closeAll();
    return out;
}

}  // namespace pw
