#pragma once
// The program's profile: QSettings("Local AppWizard-Generated Applications",
// "Lumora"), or, for tests, an INI file of their own.

#include <QSettings>
#include <QString>
#include <memory>

// An empty `iniFile` means the program's own profile.
inline std::unique_ptr<QSettings> OpenProfile(const QString& iniFile)
{
    if (iniFile.isEmpty())
        return std::make_unique<QSettings>(QStringLiteral("Local AppWizard-Generated Applications"),
                                           QStringLiteral("Lumora"));
    return std::make_unique<QSettings>(iniFile, QSettings::IniFormat);
}
