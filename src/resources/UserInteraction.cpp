#include "resources/UserInteraction.h"

#include "resources/Strings.h"

namespace pw {

Answer inform(IUserInteraction& ui, const QString& text) {
    return ui.message(productName(), text, MessageKind::Information);
}

Answer ask(IUserInteraction& ui, const QString& text, MessageKind kind) {
    return ui.message(productName(), text, kind);
}

}  // namespace pw
