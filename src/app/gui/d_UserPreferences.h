#pragma once
// "User Preferences": the pages General, Text and Mail over the in-memory settings. OK
// stores what the pages show and applies it to the main window at once; Cancel changes
// nothing. Nothing is written to the settings file here (the close sequence does that).

#include <QDialog>
#include <QFont>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "app/Settings.h"
#include "resources/UserInteraction.h"

class QAction;
class QMenu;

namespace Ui {
class d_UserPreferences;
}

namespace pw::app {

// What OK changes in the main window; any of these may be left empty.
struct PreferencesHost {
    std::function<void(bool)> showLogWindow;
    std::function<void(bool)> showToolbar;
    std::function<void(bool)> showAutoWrapItem;
    std::function<void(const QFont&)> setEditorFont;
};

// Removes the Auto-Wrap item from the Tools popup and, when shown, appends it again as its
// last item, enabled.
void ShowAutoWrapItem(QMenu& tools, QAction& item, bool show);

class d_UserPreferences : public QDialog {
    Q_OBJECT
public:
    // The font dialog; tests answer it instead.
    using FontChooser = std::function<std::optional<QFont>(const QFont& current, QWidget* parent)>;

    d_UserPreferences(Settings& settings, const QStringList& captions, const QFont& editorFont,
                      IUserInteraction& ui, PreferencesHost host, QWidget* parent = nullptr);
    ~d_UserPreferences() override;

    void setFontChooser(FontChooser chooser) { m_chooseFont = std::move(chooser); }
    // The "Font" button.
    void chooseFont();
    void accept() override;

    // The sample's font (after OK: the regular font the editor got).
    [[nodiscard]] const QFont& sampleFont() const { return m_font; }

private:
    void translate();
    void load();

    std::unique_ptr<Ui::d_UserPreferences> m_form;
    Settings& m_settings;
    QStringList m_captions;
    QFont m_font;
    IUserInteraction& m_ui;
    PreferencesHost m_host;
    FontChooser m_chooseFont;
};

}  // namespace pw::app
