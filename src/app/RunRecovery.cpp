#include "app/RunRecovery.h"

#include <QDir>
#include <QFile>

#include "compose/MailFile.h"
#include "send/OutcomeWriteBack.h"
#include "smtp/Charsets.h"

namespace pw::app {

RecoveryResult RecoverInterruptedRun(const send::InterruptedRun& run, const QString& scratchFolder,
                                     const CodePage& textCodePage, QString* inFlight) {
    if (!run.projectUnchanged())
        return RecoveryResult::ProjectChanged;
    const QString who = send::settleInFlight(run.workingCopy);
    if (inFlight)
        *inFlight = who;
    struct Scratch {
        QString folder;
        ~Scratch() {
            QDir dir(folder);
            for (const QString& f : dir.entryList(QDir::Files | QDir::Hidden))
                dir.remove(f);
        }
    } scratch{scratchFolder};

    MailFileReadOptions read;
    read.previewFolder = scratchFolder;
    read.currentCodePage = textCodePage;
    // no databaseTarget: the project's own, older records are not wanted
    const MailFileReadResult r = readMailFile(run.projectPath, read, nullptr);
    if (!r.ok() || r.contents->kind != MailFileKind::Project || !r.contents->complete)
        return RecoveryResult::Failed;

    const WriteResult w = send::writeOutcomesBack(
        {run.projectPath, run.workingCopy, scratchFolder, textCodePage}, r.contents->document,
        r.contents->scheduled.value_or(ScheduledSending{}));
    if (!w.ok())
        return RecoveryResult::Failed;
    send::discardMarker(run);
    QFile::remove(run.workingCopy);
    return RecoveryResult::Written;
}

}  // namespace pw::app
