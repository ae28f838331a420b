#include "res/RuntimeFiles.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "settings/SettingsRecord.h"

#ifndef LUMORA_DATA_DIR
#define LUMORA_DATA_DIR "/usr/local/share/lumora"
#endif

QString InstalledDataDirectory()
{
    return QStringLiteral(LUMORA_DATA_DIR);
}

QString RuntimeFilePath(const QString& name)
{
    const QString local = QString::fromStdString(appDirectory) + '/' + name;
    if (QFileInfo::exists(local)) return local;
    // A program run from where it was built or unpacked has them beside it.
    if (QCoreApplication::instance()) {
        const QString beside = QCoreApplication::applicationDirPath() + '/' + name;
        if (QFileInfo(beside).isFile()) return beside;
    }
    // Started from the desktop menu, the start directory is the user's home:
    // the shutter sound and the read-me come from the installation.
    const QString installed = InstalledDataDirectory() + '/' + name;
    return QFileInfo(installed).isFile() ? installed : local;
}
