#include "compose/TemplateLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

#include "compose/CodePage.h"
#include "compose/MailDocument.h"
#include "resources/Strings.h"

namespace pw {

QString templateDisplayName(const QString& folderName) {
    static constexpr int kShipped[] = {
        ids::kTemplateBusinessNotice, ids::kTemplateInvitation, ids::kTemplateNewsletter,
        ids::kTemplatePhotoLetter,    ids::kTemplateSale,       ids::kTemplateSeasonalGreeting};
    static constexpr int kVariants[] = {ids::kTemplateEnglishVariant,
                                        ids::kTemplateJapaneseVariant};
    for (int variant : kVariants) {
        const QString suffix = str(variant, Language::English);
        if (!folderName.endsWith(suffix))
            continue;
        const QString base = folderName.chopped(suffix.size());
        for (int shipped : kShipped) {
            if (base == str(shipped, Language::English))
                return str(shipped) + str(variant);
        }
    }
    return folderName;
}

QString shippedDataFolder(const QString& programFolder, const QString& name) {
    const QString beside = programFolder + name + u'/';
    if (QFileInfo(beside).isDir()) {
        return beside;
    }
    const QString installed =
        QDir::cleanPath(programFolder + QStringLiteral("../share/postwick/") + name) + u'/';
    if (QFileInfo(installed).isDir()) {
        return installed;
    }
    return beside;
}

namespace {

void scanInto(LibraryNode& node, int& templates, int depth) {
    // a link loop or an absurdly deep tree ends the walk instead of the program
    if (depth > 16) {
        return;
    }
    const QDir dir(node.path);
    node.isTemplate = QFileInfo(node.path + QStringLiteral("index.html")).isFile();
    if (node.isTemplate) {
        ++templates;
    }
    const QStringList subfolders = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : subfolders) {
        if (name.compare(QLatin1StringView("preview"), Qt::CaseInsensitive) == 0) {
            continue;
        }
        LibraryNode child{name, node.path + name + u'/', false, {}};
        if (templates >= kMaxTemplates) {
            break;
        }
        scanInto(child, templates, depth + 1);
        node.children.append(std::move(child));
    }
}

}  // namespace

LibraryNode scanLibrary(const QString& libraryFolder) {
    LibraryNode root{QString(), libraryFolder, false, {}};
    int templates = 0;
    scanInto(root, templates, 0);
    root.isTemplate = false;
    std::sort(root.children.begin(), root.children.end(),
              [](const LibraryNode& a, const LibraryNode& b) {
                  return QString::localeAwareCompare(a.name, b.name) < 0;
              });
    return root;
}

const LibraryNode* findTemplate(const LibraryNode& root, const QString& name) {
    for (const LibraryNode& child : root.children) {
        if (child.isTemplate && child.name == name) {
            return &child;
        }
        if (const LibraryNode* found = findTemplate(child, name)) {
            return found;
        }
    }
    return nullptr;
}

namespace {

QByteArray declaredCharset(const QByteArray& bytes) {
    static const QRegularExpression meta(
        QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9_.:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = meta.match(QString::fromLatin1(bytes.left(8192)));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

bool isUtf8Name(const QByteArray& name) {
    const QByteArray n = name.toLower();
    return n == "utf-8" || n == "utf8";
}

QString dropCharsetDeclarations(QString text) {
    static const QRegularExpression meta(QStringLiteral("<meta[^>]*charset[^>]*>"),
                                         QRegularExpression::CaseInsensitiveOption);
    return text.remove(meta);
}

std::optional<QString> decodeCleanly(const QByteArray& bytes, const QByteArray& charset) {
    const auto cp = CodePage::fromName(charset);
    if (!cp) {
        return std::nullopt;
    }
    QString text = cp->decode(bytes);
    if (text.contains(QChar::ReplacementCharacter)) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

HtmlText decodeHtml(const QByteArray& raw) {
    if (raw.startsWith("\xEF\xBB\xBF")) {
        return {QString::fromUtf8(raw.mid(3)), "UTF-8"};
    }
    if (raw.startsWith("\xFF\xFE") || raw.startsWith("\xFE\xFF")) {
        const bool le = raw.startsWith("\xFF\xFE");
        QString text;
        for (qsizetype i = 2; i + 1 < raw.size(); i += 2) {
            const auto a = static_cast<uchar>(raw.at(i));
            const auto b = static_cast<uchar>(raw.at(i + 1));
            const char16_t unit = le ? char16_t(a | (b << 8)) : char16_t((a << 8) | b);
            if (unit == 0) {
                break;
            }
            text += QChar(unit);
        }
        return {dropCharsetDeclarations(text), le ? "UTF-16LE" : "UTF-16BE"};
    }
    // an 8-bit file ends at its first NUL
    const qsizetype nul = raw.indexOf('\0');
    const QByteArray bytes = nul >= 0 ? raw.left(nul) : raw;
    const QByteArray declared = declaredCharset(bytes);
    if (const auto utf8 = decodeCleanly(bytes, "UTF-8")) {
        // plain ASCII declared as a legacy charset: written back as UTF-8 it must not lie
        return {
            !declared.isEmpty() && !isUtf8Name(declared) ? dropCharsetDeclarations(*utf8) : *utf8,
            "UTF-8"};
    }
    if (!declared.isEmpty() && !isUtf8Name(declared)) {
        if (const auto cp = CodePage::fromName(declared)) {
            return {dropCharsetDeclarations(cp->decode(bytes)), cp->name()};
        }
    }
    for (const QByteArray& guess : {QByteArray("Shift_JIS"), QByteArray("windows-1252")}) {
        if (const auto text = decodeCleanly(bytes, guess)) {
            return {dropCharsetDeclarations(*text), guess};
        }
    }
    return {dropCharsetDeclarations(QString::fromUtf8(bytes)), "UTF-8"};
}

HtmlText readHtmlFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return decodeHtml(f.readAll());
}

bool writeHtmlFile(const QString& path, const QString& text) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    const QByteArray bytes = text.toUtf8();
    return f.write(bytes) == bytes.size() && f.flush();
}

void copyFolderFiles(const QString& from, const QString& to) {
    if (QFileInfo(from).canonicalFilePath() == QFileInfo(to).canonicalFilePath()) {
        return;
    }
    for (const QString& name : filesInFolder(from)) {
        QFile::remove(to + name);
        (void)QFile::copy(from + name, to + name);
    }
}

QStringList prepareWizardFolder(const QString& templateFolder, const QString& chosenName,
                                const QString& currentName, const QString& mainPreviewFolder,
                                const QString& wizardFolder) {
    QDir().mkpath(wizardFolder);
    (void)emptyFolderFiles(wizardFolder);
    const bool continuing = !currentName.isEmpty() && chosenName == currentName &&
                            QFileInfo(mainPreviewFolder + QStringLiteral("index.html")).isFile();
    copyFolderFiles(continuing ? mainPreviewFolder : templateFolder, wizardFolder);
    // the preview's merged copy is no part of the HTML
    QFile::remove(wizardFolder + QStringLiteral("index.htm"));
    return filesInFolder(wizardFolder);
}

}  // namespace pw
