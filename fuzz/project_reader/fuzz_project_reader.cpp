// Feeds arbitrary bytes to the project and template reader. Besides the sanitizers, it checks
// after every input that nothing was written outside the preview folder and the database
// target, that the preview folder holds only plain files, and that whatever reads as complete
// can be written back (and read again as complete), so that no file opens that could never be
// saved.
//
// Build with clang and -DPOSTWICK_FUZZ=ON, then for example:
//   python3 fuzz/project_reader/make_seeds.py /tmp/corpus
//   TMPDIR=/dev/shm ASAN_OPTIONS=quarantine_size_mb=32 fuzz_project_reader
//     -runs=1000000 -max_len=8192 -rss_limit_mb=512 /tmp/corpus

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "compose/MailFile.h"

namespace {

struct World {
    QTemporaryDir root;
    QString input, preview, copies, sandbox, written;

    World() {
        const QString base = root.path() + '/';
        input = base + "input.pzy";
        sandbox = base + "sandbox/";
        preview = sandbox + "a/b/PostwickMainPreview/";
        copies = base + "copies/";
        written = base + "written.pzy";
        QDir().mkpath(preview);
        QDir().mkpath(copies);
    }
};

World& world() {
    static World w;
    return w;
}

// Everything below the sandbox apart from the preview folder's plain files.
bool onlyPreviewFiles(const QString& sandbox, const QString& preview) {
    QDirIterator it(sandbox, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QString previewPath = QDir(preview).absolutePath();
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && previewPath.startsWith(info.absoluteFilePath())) {
            continue;
        }
        if (info.absolutePath() != previewPath || !info.isFile() || info.isSymLink()) {
            fprintf(stderr, "unexpected entry %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}

// Writes the project back as the Save command would and reads the result again.
void checkWriteBack(const World& w, const pw::MailFileContents& c,
                    const pw::MailFileReadOptions& readOptions, const QString& database) {
    pw::ProjectWriteOptions options;
    options.previewFolder = w.preview;
    options.currentCodePage = readOptions.currentCodePage;
    if (c.database == pw::DatabaseOutcome::Written) {
        options.workingCopyPath = database;
    }
    const pw::WriteResult written = pw::writeProjectFile(
        w.written, c.document, c.scheduled.value_or(pw::ScheduledSending()), options, nullptr);
    if (!written.ok()) {
        fprintf(stderr, "read as complete, not written back: %s\n", qPrintable(written.message));
        abort();
    }
    pw::MailFileReadOptions again = readOptions;
    again.databaseTarget = [] { return QString(); };
    const pw::MailFileReadResult reread = pw::readMailFile(w.written, again, nullptr);
    if (!reread.ok() || !reread.contents->complete ||
        reread.contents->document.attachments != c.document.attachments ||
        reread.contents->document.projectSettings != c.document.projectSettings) {
        fprintf(stderr, "written back, not read again whole\n");
        abort();
    }
    QFile::remove(w.written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = world();
    {
        QFile file(w.input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            abort();
        }
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    pw::MailFileReadOptions options;
    options.previewFolder = w.preview;
    const QString target = w.copies + "PZP_data_1.pzb";
    options.databaseTarget = [&target] { return target; };
    if (size > 0 && (data[0] & 1)) {
        options.currentCodePage = *pw::CodePage::fromName("Shift_JIS");
    }
    const pw::MailFileReadResult result = pw::readMailFile(w.input, options, nullptr);
    if (result.ok()) {
        const pw::MailFileContents& c = *result.contents;
        if (c.document.pictureList != pw::filesInFolder(w.preview)) {
            abort();
        }
        // the database copy can never be larger than the input that carried it
        if (c.database == pw::DatabaseOutcome::Written && QFileInfo(target).size() > qint64(size)) {
            abort();
        }
        if (c.complete && c.kind == pw::MailFileKind::Project) {
            checkWriteBack(w, c, options, target);
        }
    }
    if (!onlyPreviewFiles(w.sandbox, w.preview)) {
        abort();
    }
    QFile::remove(target);
    return 0;
}
