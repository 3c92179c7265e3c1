#include "compose/gui/HtmlTemplateCommands.h"

#include <QDir>

#include "compose/MailDocument.h"
#include "compose/TemplatePlaces.h"
#include "compose/TemplateWizard.h"
#include "compose/gui/d_FormEdit.h"
#include "compose/gui/d_HTMLTempSelect.h"

namespace pw {

namespace {

std::optional<HtmlTemplateResult> runWizard(QWidget* parent, const HtmlTemplateFolders& folders,
                                            const QString& name, const QString& templateFolder,
                                            const QStringList& pictures,
                                            const TextDefaults& defaults, IUserInteraction& ui) {
    CTemplateWizard wizard({folders.wizardFolder, folders.mainPreviewFolder, templateFolder, name,
                            pictures, defaults});
    wizard.open();
    d_FormEdit dialog(wizard, ui, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return HtmlTemplateResult{wizard.templateName(), wizard.pictureList()};
}

}  // namespace

std::optional<HtmlTemplateResult> selectHtmlTemplate(QWidget* parent,
                                                     const HtmlTemplateFolders& folders,
                                                     const QString& currentName,
                                                     const TextDefaults& defaults,
                                                     IUserInteraction& ui) {
    d_HTMLTempSelect chooser(
        {folders.library, folders.mainPreviewFolder, folders.wizardFolder, folders.ownLibrary},
        currentName, ui, parent);
    if (chooser.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return runWizard(parent, folders, chooser.templateName(), chooser.templateFolder(),
                     chooser.pictureList(), defaults, ui);
}

std::optional<HtmlTemplateResult> editHtmlTemplate(
    QWidget* parent, const HtmlTemplateFolders& folders, const QString& currentName,
    const QStringList& pictureList, const TextDefaults& defaults, IUserInteraction& ui) {
    QDir().mkpath(folders.wizardFolder);
    (void)emptyFolderFiles(folders.wizardFolder);
    copyFolderFiles(folders.mainPreviewFolder, folders.wizardFolder);
    QFile::remove(folders.wizardFolder + QStringLiteral("index.htm"));
    // the template's own folder (for its page previews) wherever it lives now
    const LibraryNode library = scanLibraries({folders.ownLibrary, folders.library});
    const LibraryNode* t = findTemplate(library, currentName);
    return runWizard(parent, folders, currentName, t ? t->path : QString(), pictureList, defaults,
                     ui);
}

}  // namespace pw
