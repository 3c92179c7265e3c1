#pragma once
// The SMTP client keeps its own texts (it depends on nothing else of the system); the
// application tells it once at start which language the user reads.

namespace pw::smtp {

enum class TextLanguage { English, Japanese };

void setTextLanguage(TextLanguage language);
[[nodiscard]] TextLanguage textLanguage();

}  // namespace pw::smtp
