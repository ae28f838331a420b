#pragma once
// Dates, sizes and numbers the Chinese way, whatever the user's locale says.
// Qt's own file dialogs format them with the system locale, which Qt reads
// from the environment (LC_ALL, LC_MESSAGES, LC_TIME, LC_NUMERIC, ...) while
// the application object is built: setting the default locale alone does not
// reach them.

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Lives across the construction of the QApplication: makes the locale
// variables Simplified Chinese for that moment, then gives the environment
// and the C library's locale back, so that the C library and the programs
// started from here keep the user's own (where no Chinese C locale is
// installed the C library would otherwise fall back to ASCII). It also makes
// Simplified Chinese Qt's default locale.
class CChineseStartLocale {
public:
    CChineseStartLocale();
    ~CChineseStartLocale();
    CChineseStartLocale(const CChineseStartLocale&) = delete;
    CChineseStartLocale& operator=(const CChineseStartLocale&) = delete;

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};
