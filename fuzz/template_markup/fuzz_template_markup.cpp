// Feeds arbitrary bytes as a template's "index.html": decoding, the block scan, the values
// and contents of every page written back, the text markup read and written. Besides the
// sanitizers it checks that after every change each page's positions still frame its own
// start tag, content and end tag.
//
// Build with clang and -DPOSTWICK_FUZZ=ON, then for example:
//   fuzz_template_markup -max_len=8192 corpus

#include <cstdint>
#include <cstdlib>

#include "compose/TemplateLibrary.h"
#include "compose/TemplateMarkup.h"

namespace {

void checkPositions(const pw::CTemplateDocument& d) {
    const QString& text = d.text();
    qsizetype previousEnd = -1;
    for (const pw::TagProp& t : d.pages()) {
        const bool inside = t.start > previousEnd && t.start < t.startEnd &&
                            t.startEnd < t.endStart && t.endStart <= t.endLast &&
                            t.endLast < text.size();
        if (!inside || !QStringView(text).mid(t.start).startsWith(t.keyword) ||
            text.at(t.startEnd) != u'>' ||
            QStringView(text).mid(t.endStart, t.endLast - t.endStart + 1) !=
                QString(t.keyword + QStringLiteral("-end>")) ||
            text.mid(t.startEnd + 1, t.endStart - t.startEnd - 1) != t.content) {
            std::abort();
        }
        previousEnd = t.endLast;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    pw::CTemplateDocument doc(pw::decodeHtml(bytes).text);
    checkPositions(doc);
    const pw::TextDefaults defaults{QStringLiteral("Sans"), 10};
    pw::LinkTable links;
    for (int k = 0; k < doc.pageCount() && k < 64; ++k) {
        const pw::TagProp page = doc.pages().at(k);
        if (page.kind == pw::TagKind::String) {
            const pw::StyledText styled = pw::parseTextMarkup(page.content, defaults, links);
            if (styled.formats.size() != size_t(styled.text.size())) {
                std::abort();
            }
            doc.setContent(k, pw::writeTextMarkup(styled, defaults, links));
        } else if (const auto v = doc.value(k)) {
            (void)doc.setValue(k, pw::pictureValueToWrite(*v) + QStringLiteral("x"));
        }
        checkPositions(doc);
    }
    return 0;
}
