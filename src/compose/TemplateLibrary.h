#pragma once
// The HTML template library and the two working folders of the wizard: finding the shipped
// data, walking the library into a tree, copying a template into the wizard folder, and
// reading and writing "index.html" without harm to its text.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace pw {

class IUserInteraction;

// A folder of shipped data ("HTML TEMPLATE", "Template"): beside the executable in a build
// tree, else in ../share/postwick/ of an installed tree. Ends in '/'; the first place when
// neither exists.
[[nodiscard]] QString shippedDataFolder(const QString& programFolder, const QString& name);

inline constexpr int kMaxTemplates = 1024;

// The name the template chooser shows for a template folder: a shipped template's name in
// the language of the interface ("Sale (Japanese)" reads "セール（日本語）" in Japanese); any
// other name as it is. The folder's own name stays what projects store.
[[nodiscard]] QString templateDisplayName(const QString& folderName);

// One folder of the library tree; a template when it holds "index.html" itself.
struct LibraryNode {
    QString name;  // the folder's own name
    QString path;  // ending in '/'
    bool isTemplate = false;
    QList<LibraryNode> children;
};

// The library below its root folder: every subfolder except "preview" folders, the
// root's children sorted by name; at most kMaxTemplates templates are taken.
[[nodiscard]] LibraryNode scanLibrary(const QString& libraryFolder);
// The node of a template by name, depth first; null when absent.
[[nodiscard]] const LibraryNode* findTemplate(const LibraryNode& root, const QString& name);

// How an "index.html" was read.
struct HtmlText {
    QString text;
    QByteArray sourceCharset;  // "UTF-8", or the charset it was converted from
};

// Bytes of an "index.html" as text: a byte-order mark, else valid UTF-8, else the charset
// its <meta> declares, else Shift_JIS when that reads cleanly, else windows-1252. A
// converted file loses its charset declaration, for it is written back as UTF-8 and the
// mail's own part header names the charset it travels in.
[[nodiscard]] HtmlText decodeHtml(const QByteArray& bytes);
// The file read that way; an empty text when it cannot be read.
[[nodiscard]] HtmlText readHtmlFile(const QString& path);
// Writes UTF-8; false when the file cannot be written.
[[nodiscard]] bool writeHtmlFile(const QString& path, const QString& text);

// Copies every file (not subfolders) of one folder into another, replacing files of the same
// name; a file that cannot be copied is skipped.
void copyFolderFiles(const QString& from, const QString& to);

// "Next" of the chooser: fills the emptied wizard folder from the main preview folder when
// the chosen template is the one in use, else from the template's folder. Returns the new
// picture list: the names of every file now in the wizard folder.
[[nodiscard]] QStringList prepareWizardFolder(const QString& templateFolder,
                                              const QString& chosenName, const QString& currentName,
                                              const QString& mainPreviewFolder,
                                              const QString& wizardFolder);

}  // namespace pw
