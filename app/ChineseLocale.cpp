#include "app/ChineseLocale.h"

#include <QLocale>

#include <clocale>
#include <cstdlib>

namespace {

constexpr const char* kChinese = "zh_CN.UTF-8";
// LC_ALL would override the others; LC_MESSAGES names Qt's system language.
constexpr const char* kVariables[] = {"LC_ALL", "LC_MESSAGES", "LC_TIME", "LC_NUMERIC", "LC_MONETARY"};

}  // namespace

CChineseStartLocale::CChineseStartLocale()
{
    for (const char* name : kVariables) {
        const char* value = std::getenv(name);
        saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        if (std::string(name) == "LC_ALL")
            ::unsetenv(name);
        else
            ::setenv(name, kChinese, 1);
    }
}

CChineseStartLocale::~CChineseStartLocale()
{
    (void)QLocale::system();  // read now, while the variables still say Chinese
    for (const auto& [name, value] : saved) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    std::setlocale(LC_ALL, "");
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
}
