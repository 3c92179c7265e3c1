#pragma once
// Steps the template wizard's window from its first page to "Done" as a user does: one text
// typed, one picture fitted through Graphic Edit, one background taken and one colour chosen
// (through the colour chooser the caller set). For the tests that link the compose windows.

#include <QPushButton>
#include <QTextEdit>
#include <QtTest>
#include <functional>

#include "ScriptedUserInteraction.h"
#include "WidgetTestSupport.h"
#include "compose/TemplateMarkup.h"
#include "compose/gui/d_FormEdit.h"
#include "compose/gui/d_GraphicEdit.h"
#include "compose/gui/d_TextStyle.h"

namespace pw::test {

struct WizardSteps {
    bool typed = false;
    bool imaged = false;
    bool backed = false;
    bool colored = false;
    [[nodiscard]] bool all() const { return typed && imaged && backed && colored; }
};

// ui: the interaction the form was made with (it answers the picture chooser).
// kindOf: the kind of page n (from 0). atPage runs on every page before the click on "Next>>"
// or "Done", told whether this page was the one changed, for the caller's checks.
inline WizardSteps stepThroughWizard(d_FormEdit& form, ScriptedUserInteraction& ui,
                                     const std::function<TagKind(int)>& kindOf, const QString& text,
                                     const QString& picture,
                                     const std::function<void(TagKind, bool)>& atPage = {}) {
    WizardSteps steps;
    auto* textBox = child<QTextEdit>(&form, "text");
    auto* next = child<QPushButton>(&form, "next");
    for (int page = 0; page < 100 && form.isVisible(); ++page) {
        const TagKind kind = kindOf(page);
        bool changed = true;
        if (kind == TagKind::String && !steps.typed) {
            textBox->selectAll();
            QTest::keyClicks(textBox, text);
            steps.typed = true;
        } else if (kind == TagKind::Image && !steps.imaged) {
            whenModal<d_GraphicEdit>([](d_GraphicEdit* d) {
                child<QPushButton>(d, "magnify")->click();
                d->accept();
            });
            ui.scriptFiles({{picture}});
            child<QPushButton>(&form, "select")->click();
            steps.imaged = true;
        } else if (kind == TagKind::Back && !steps.backed) {
            ui.scriptFiles({{picture}});
            child<QPushButton>(&form, "select")->click();
            steps.backed = true;
        } else if (kind == TagKind::BgColor && !steps.colored) {
            whenModal<d_TextStyle>([](d_TextStyle* d) {
                child<QPushButton>(d, "color")->click();
                d->accept();
            });
            child<QPushButton>(&form, "textColor")->click();
            steps.colored = true;
        } else {
            changed = false;
        }
        if (atPage)
            atPage(kind, changed);
        next->click();
    }
    return steps;
}

}  // namespace pw::test
