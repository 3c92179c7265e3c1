#pragma once
// The one way a run's outcomes reach its project file, after the run (the command line) and
// after a crash (the recovery at start-up): the project is written anew with the mail as
// given and the run's working copy as its database. The caller settles the marker and
// removes the copy once this succeeded; on failure both stay for the next try.

#include <QString>

#include "compose/CodePage.h"
#include "compose/MailDocument.h"
#include "compose/MailFile.h"

namespace pw::send {

struct ProjectOutcomes {
    QString projectPath;
    QString workingCopy;
    QString previewFolder;  // where the project's HTML files are while it is written
    CodePage textCodePage = CodePage::utf8();
};

[[nodiscard]] WriteResult writeOutcomesBack(const ProjectOutcomes& where, MailDocument document,
                                            const ScheduledSending& scheduled);

}  // namespace pw::send
