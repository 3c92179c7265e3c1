#include "resources/UserInteraction.h"

#include "resources/Strings.h"

namespace pw {

Answer inform(IUserInteraction& ui, const QString& text) {
    return ui.message(productName(), text, MessageKind::Information);
}

int IUserInteraction::showReport(const ReportRequest& request) {
    ChoiceRequest box = request.choice;
    for (const ReportItem& item : request.items) {
        const int level = item.level == ReportLevel::Problem   ? ids::kCheckLevelProblem
                          : item.level == ReportLevel::Warning ? ids::kCheckLevelWarning
                                                               : ids::kCheckLevelPass;
        box.text += QStringLiteral("\n\n[") + str(level) + QStringLiteral("] ") + item.title +
                    QStringLiteral(": ") + item.text;
        if (!item.action.isEmpty())
            box.text += QLatin1Char('\n') +
                        str(ids::kCheckWhatToDo).replace(QLatin1String("%1"), item.action);
    }
    return choose(box);
}

Answer ask(IUserInteraction& ui, const QString& text, MessageKind kind) {
    return ui.message(productName(), text, kind);
}

}  // namespace pw
