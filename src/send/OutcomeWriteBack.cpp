#include "send/OutcomeWriteBack.h"

namespace pw::send {

WriteResult writeOutcomesBack(const ProjectOutcomes& where, MailDocument document,
                              const ScheduledSending& scheduled) {
    ProjectWriteOptions options;
    options.previewFolder = where.previewFolder;
    options.workingCopyPath = where.workingCopy;
    options.currentCodePage = where.textCodePage;
    document.projectFilePath = where.projectPath;
    return writeProjectFile(where.projectPath, document, scheduled, options, nullptr);
}

}  // namespace pw::send
