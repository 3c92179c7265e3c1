#include "print/TextCut.h"

#include <QTextBoundaryFinder>
#include <vector>

namespace pw::print {

QString cutToWidth(const QString& text, int width,
                   const std::function<int(const QString&)>& widthOf) {
    if (widthOf(text) <= width) {
        return text;
    }
    std::vector<qsizetype> ends;  // every grapheme boundary after the start
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype p = finder.toNextBoundary(); p > 0; p = finder.toNextBoundary()) {
        ends.push_back(p);
    }
    // Widths grow with length: the last boundary whose start still fits.
    qsizetype lo = 0;
    qsizetype hi = static_cast<qsizetype>(ends.size()) - 1;  // ends.back() is the whole text
    qsizetype best = 0;
    while (lo < hi) {
        const qsizetype mid = (lo + hi) / 2;
        if (widthOf(text.left(ends[static_cast<size_t>(mid)])) <= width) {
            best = ends[static_cast<size_t>(mid)];
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return text.left(best);
}

}  // namespace pw::print
