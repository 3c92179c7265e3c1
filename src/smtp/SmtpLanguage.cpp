#include "smtp/SmtpLanguage.h"

#include <atomic>

namespace pw::smtp {
namespace {
std::atomic<TextLanguage> g_language{TextLanguage::English};
}

void setTextLanguage(TextLanguage language) {
    g_language.store(language);
}
TextLanguage textLanguage() {
    return g_language.load();
}

}  // namespace pw::smtp
