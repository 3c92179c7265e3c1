#pragma once
// The main window's "Select HTML Template..." (chooser, then wizard) and "Edit HTML
// Template..." (the wizard over the current HTML mail).

#include <QString>
#include <QStringList>
#include <optional>

#include "compose/TemplateMarkup.h"

class QWidget;

namespace pw {

class IUserInteraction;

struct HtmlTemplateFolders {
    QString library;            // the shipped "HTML TEMPLATE/" (shippedDataFolder)
    QString mainPreviewFolder;  // ending in '/'
    QString wizardFolder;       // ending in '/'
    QString ownLibrary;         // the user's "HTML TEMPLATE/"
};

// What goes back into the mail document after "Done".
struct HtmlTemplateResult {
    QString templateName;
    QStringList pictureList;
};

// nullopt: cancelled, the main preview folder untouched.
[[nodiscard]] std::optional<HtmlTemplateResult> selectHtmlTemplate(
    QWidget* parent, const HtmlTemplateFolders& folders, const QString& currentName,
    const TextDefaults& defaults, IUserInteraction& ui);
[[nodiscard]] std::optional<HtmlTemplateResult> editHtmlTemplate(
    QWidget* parent, const HtmlTemplateFolders& folders, const QString& currentName,
    const QStringList& pictureList, const TextDefaults& defaults, IUserInteraction& ui);

}  // namespace pw
