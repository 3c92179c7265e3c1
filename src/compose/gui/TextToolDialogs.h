#pragma once
// The small dialogs of the text tools and of the mail templates: Count Characters,
// Auto-Wrap, Auto Line, Auto Frame, Select Template and Save As Template. Each is a thin
// view over the logic of TextTools.

#include <QDialog>
#include <memory>

#include "compose/TemplatePlaces.h"
#include "compose/TextTools.h"

class QPlainTextEdit;

namespace Ui {
class d_CountCharacters;
class d_AutoWrap;
class d_AutoLine;
class d_AutoFrame;
class SelTemp;
class d_SSTemplate;
}  // namespace Ui

namespace pw {

class IUserInteraction;

class d_CountCharacters : public QDialog {
    Q_OBJECT
public:
    d_CountCharacters(const TextCounts& counts, QWidget* parent = nullptr);
    ~d_CountCharacters() override;

private:
    std::unique_ptr<Ui::d_CountCharacters> m_ui;
};

class d_AutoWrap : public QDialog {
    Q_OBJECT
public:
    d_AutoWrap(AutoWrapState& state, IUserInteraction& ui, QWidget* parent = nullptr);
    ~d_AutoWrap() override;
    void accept() override;

private:
    std::unique_ptr<Ui::d_AutoWrap> m_ui;
    AutoWrapState& m_state;
    IUserInteraction& m_interaction;
};

// What Auto Line remembers from one use to the next while the program runs.
struct AutoLineMemory {
    QString lineText;
    QString length;
    AutoLineMode mode = AutoLineMode::Characters;
};

class d_AutoLine : public QDialog {
    Q_OBJECT
public:
    d_AutoLine(AutoLineMemory& memory, QWidget* parent = nullptr);
    ~d_AutoLine() override;
    void accept() override;
    // After OK: what to insert.
    [[nodiscard]] const QString& line() const { return m_line; }

private:
    std::unique_ptr<Ui::d_AutoLine> m_ui;
    AutoLineMemory& m_memory;
    QString m_line;
};

class d_AutoFrame : public QDialog {
    Q_OBJECT
public:
    // frameText: "AutoBoxText" of the settings, written back when the window closes.
    d_AutoFrame(QString& frameText, QWidget* parent = nullptr);
    ~d_AutoFrame() override;
    void done(int result) override;
    [[nodiscard]] QString frameCharacters() const;

private:
    std::unique_ptr<Ui::d_AutoFrame> m_ui;
    QString& m_frameText;
};

// The mail templates, the user's and the shipped ones; Delete asks, then removes the user's
// file or hides the shipped one.
class SelTemp : public QDialog {
    Q_OBJECT
public:
    SelTemp(TemplatePlaces places, IUserInteraction& ui, QWidget* parent = nullptr);
    ~SelTemp() override;
    // After OK: the selected name (OK without one acts as Cancel).
    [[nodiscard]] const QString& templateName() const { return m_name; }
    void accept() override;
    void onDelete();

private:
    std::unique_ptr<Ui::SelTemp> m_ui;
    TemplatePlaces m_places;
    IUserInteraction& m_interaction;
    QString m_name;
};

class d_SSTemplate : public QDialog {
    Q_OBJECT
public:
    explicit d_SSTemplate(QWidget* parent = nullptr);
    ~d_SSTemplate() override;
    [[nodiscard]] QString templateName() const;

private:
    std::unique_ptr<Ui::d_SSTemplate> m_ui;
};

// The editor commands: Auto Line inserts at the start of the selection (the selected text
// stays); Auto Frame frames the selected lines. False when nothing changed.
bool runAutoLine(QPlainTextEdit& editor, AutoLineMemory& memory, QWidget* parent);
bool runAutoFrame(QPlainTextEdit& editor, QString& frameText, QWidget* parent);

}  // namespace pw
