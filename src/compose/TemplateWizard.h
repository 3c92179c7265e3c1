#pragma once
// One run of the HTML template wizard without its window: the document read from the
// wizard folder, the page on show with its old and new values, the picture list, the link
// table, applying a page, and finishing into the main preview folder.

#include <QString>
#include <QStringList>
#include <optional>

#include "compose/TemplateMarkup.h"

namespace pw {

struct WizardSetup {
    QString wizardFolder;       // "PostwickWizardPreview/", ending in '/'
    QString mainPreviewFolder;  // "PostwickMainPreview/", ending in '/'
    QString templateFolder;     // the template's own folder (for its page previews), or empty
    QString templateName;
    QStringList pictureList;
    TextDefaults defaults;
};

// Which buttons a page offers.
struct PageControls {
    bool select = false;
    bool url = false;
    bool textColor = false;
    bool textBox = false;
    bool goBack = false;
    bool last = false;  // the OK button reads "Done"
};

class CTemplateWizard {
public:
    explicit CTemplateWizard(WizardSetup setup);

    // Reads "index.html" of the wizard folder (an unreadable one gives an empty document
    // and no pages) and shows page 0.
    void open();

    [[nodiscard]] int pageCount() const { return m_doc.pageCount(); }
    [[nodiscard]] int currentPage() const { return m_page; }
    [[nodiscard]] const TagProp* page() const;
    [[nodiscard]] PageControls controls() const;
    [[nodiscard]] const CTemplateDocument& document() const { return m_doc; }
    [[nodiscard]] const QStringList& pictureList() const { return m_pictures; }
    [[nodiscard]] const QString& templateName() const { return m_setup.templateName; }
    [[nodiscard]] LinkTable& links() { return m_links; }
    [[nodiscard]] const TextDefaults& defaults() const { return m_setup.defaults; }

    // What the views show for the page: "Temp.html" with its content, and the template's
    // own picture of the page when it has one (empty otherwise).
    [[nodiscard]] QString pageFile() const { return m_setup.wizardFolder + kTempHtml; }
    [[nodiscard]] QString pagePreviewPicture() const;

    // Picture pages: the value as shown (old) and as it will be written (new).
    [[nodiscard]] const QString& oldValue() const { return m_old; }
    [[nodiscard]] const QString& newValue() const { return m_new; }
    void setNewValue(const QString& value) { m_new = value; }
    // Colour pages.
    [[nodiscard]] std::optional<Rgb> currentColor() const { return m_color; }
    void setCurrentColor(std::optional<Rgb> color) { m_color = color; }
    // Text pages: the content as formatted text, and the edited one to apply.
    [[nodiscard]] const StyledText& styledText() const { return m_styled; }
    void setStyledText(StyledText text) { m_styled = std::move(text); }

    // Writes the page's value or text into the document and shows it again.
    void applyPage();
    // A background picture chosen from a file: copied into the wizard folder under its own
    // name, applied. False when it cannot be copied.
    [[nodiscard]] bool chooseBackgroundFile(const QString& path);
    // A picture written by the picture editor (a file in the wizard folder) for an image page:
    // shown at once, written on the next apply.
    void takeEditedPicture(const QString& path);
    // The address from "URL Setting"; an empty one removes the picture reference.
    void setUrl(const QString& url);

    // Apply, then the next or previous page.
    void next();
    void back();
    // Apply; the document becomes "index.html" of the main preview folder together with every
    // file of the wizard folder, which is emptied. False when "index.html" could not be
    // written (the main preview folder is then left as it was).
    [[nodiscard]] bool finish();

    static constexpr QLatin1StringView kTempHtml{"Temp.html"};

private:
    void show(int page);
    void removeUnusedPicture(const QString& name);

    WizardSetup m_setup;
    CTemplateDocument m_doc;
    QStringList m_pictures;
    LinkTable m_links;
    int m_page = 0;
    QString m_old;
    QString m_new;
    std::optional<Rgb> m_startColor;
    std::optional<Rgb> m_color;
    StyledText m_styled;
};

}  // namespace pw
