#pragma once
// The markup of HTML templates: the marked blocks of "index.html" that the wizard edits
// (a text, a picture, a background picture, a background colour), the values inside them,
// and the small text markup of text blocks read into formatted text and written back.
// Widget-free: the wizard's text box converts to and from StyledText.

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>
#include <vector>

namespace pw {

enum class TagKind { Image, String, Back, BgColor };

// One marked block: "<!kind=\"prompt\">" content "<!kind-end>".
struct TagProp {
    QString keyword;  // as written, e.g. "<!image" or "<!STRING"
    TagKind kind = TagKind::String;
    QString prompt;
    QString content;
    qsizetype start = 0;     // the '<' of the start tag
    qsizetype startEnd = 0;  // the start tag's '>'
    qsizetype endStart = 0;  // the '<' of the end tag
    qsizetype endLast = 0;   // the end tag's '>'
};

// The blocks of a document in document order. Keywords are all lower or all upper case;
// a start tag without its closing quote-and-'>' or without an end tag is no block.
[[nodiscard]] QList<TagProp> scanTemplate(const QString& document);

// A document with its page list; every change keeps the positions of the later blocks.
class CTemplateDocument {
public:
    CTemplateDocument() = default;
    explicit CTemplateDocument(QString text);

    [[nodiscard]] const QString& text() const { return m_text; }
    [[nodiscard]] const QList<TagProp>& pages() const { return m_pages; }
    [[nodiscard]] int pageCount() const { return static_cast<int>(m_pages.size()); }

    // The picture reference of an image or back block, the colour text of a bgcolor block;
    // nullopt when the block lacks its attribute.
    [[nodiscard]] std::optional<QString> value(int page) const;
    // Replaces the value of an image, back or bgcolor block; false (nothing changed) when
    // the block lacks its attribute.
    bool setValue(int page, const QString& value);
    // Replaces the whole content of a block.
    void setContent(int page, const QString& content);

private:
    // where the value lies: from the attribute's opening quote + 1, its length
    [[nodiscard]] std::optional<std::pair<qsizetype, qsizetype>> valueSpan(int page) const;
    void replace(int page, qsizetype from, qsizetype length, const QString& with);

    QString m_text;
    QList<TagProp> m_pages;
};

// A picture value as the document holds it: a web address as it is, anything else reduced
// to its bare file name (the file lies beside "index.html").
[[nodiscard]] QString pictureValueToWrite(const QString& value);
[[nodiscard]] bool isWebReference(const QString& value);

// A colour as 0xAARRGGBB, the layout QColor takes and gives (QColor(rgb), QColor::rgb()),
// so that the markup needs no GUI module.
using Rgb = quint32;

// "#RRGGBB" read into an opaque colour; nullopt for anything else ("no colour").
[[nodiscard]] std::optional<Rgb> parseHtmlColor(const QString& text);
// "#" and six upper-case hexadecimal digits.
[[nodiscard]] QString htmlColor(Rgb color);

// The format of one character of a text block.
struct CharFormat {
    QString face;              // font name
    int sizePt = 0;            // points
    std::optional<Rgb> color;  // none: the automatic colour
    bool bold = false;
    bool italic = false;
    int link = 0;  // index into the link table; 0: no link

    friend bool operator==(const CharFormat&, const CharFormat&) = default;
};

// The preference font that size step 3 and "no face" mean.
struct TextDefaults {
    QString face;
    int sizePt = 10;
    [[nodiscard]] CharFormat plain() const { return CharFormat{face, sizePt, {}, false, false, 0}; }
};

// Link targets; entry 0 is the empty text, a new target is appended.
class LinkTable {
public:
    LinkTable() : m_targets{QString()} {}
    [[nodiscard]] int indexOf(const QString& target);  // appends when missing; "" is 0
    [[nodiscard]] QString target(int index) const {
        return index > 0 && index < m_targets.size() ? m_targets.at(index) : QString();
    }
    void reset() { m_targets = QStringList{QString()}; }
    [[nodiscard]] int size() const { return static_cast<int>(m_targets.size()); }

private:
    QStringList m_targets;
};

// Text with one format per character; line breaks are '\n'.
struct StyledText {
    QString text;
    std::vector<CharFormat> formats;
};

// A text block's content as formatted text: tabs and line ends dropped, "<br>" a line
// break, every tag removed, then italic, bold, font and link pairs laid over the text.
[[nodiscard]] StyledText parseTextMarkup(const QString& content, const TextDefaults& defaults,
                                         LinkTable& links);
// The formatted text as markup: a tag change wherever a character's format differs from the
// one before, line breaks as "<br>", without a trailing one.
[[nodiscard]] QString writeTextMarkup(const StyledText& styled, const TextDefaults& defaults,
                                      const LinkTable& links);

// Font size step 1..7 (3 = the default size) and points.
[[nodiscard]] int sizeStepFromPoints(int points, int defaultPoints);
[[nodiscard]] int pointsFromSizeStep(int step, int defaultPoints);

}  // namespace pw
