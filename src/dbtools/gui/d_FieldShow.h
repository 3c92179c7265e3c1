#pragma once
// "Fields": a small tool window with one button per field. A click puts the field's merge
// placeholder on the clipboard and, when the window used before it was the main window or
// the template wizard, pastes it into that window's focused field.

#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>

#include "db/TDbData.h"

class QPushButton;

namespace pw::dbtools {

class d_FieldShow : public QWidget, public db::IStoreObserver {
    Q_OBJECT
public:
    // Relabels itself whenever the store reloads its captions.
    explicit d_FieldShow(db::TDbData& store, QWidget* parent = nullptr);
    ~d_FieldShow() override;

    // Every button takes its caption again (after the captions were reloaded).
    void relabel();
    [[nodiscard]] QPushButton* button(int field) const { return m_buttons[field]; }
    // The window a placeholder goes to; kept up to date from the application's focus.
    void setPreviousWindow(QWidget* window) { m_previous = window; }
    [[nodiscard]] QWidget* previousWindow() const { return m_previous; }
    // The click of button `field`: clipboard, then the paste into the previous window.
    void insertPlaceholder(int field);

    // A window that places the placeholder itself rather than by a paste into its focused
    // control (the main window puts it at its last focused field); true when it took it.
    std::function<bool(QWidget* window, const QString& placeholder)> deliver;

    // Object names of the windows a placeholder is pasted into.
    static inline const QString kMainWindowName = QStringLiteral("CPZPtestDlg");
    static inline const QString kWizardName = QStringLiteral("d_FormEdit");

signals:
    // Shown or hidden through its close box (the main window keeps "ShowFieldWnd").
    void visibilityChanged(bool visible);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void captionsReloaded() override { relabel(); }
    void focusMoved(QWidget* old, QWidget* now);

    db::TDbData& m_store;
    std::array<QPushButton*, db::kFieldCount> m_buttons{};
    QPointer<QWidget> m_previous;
};

}  // namespace pw::dbtools
