#include "capture/ui/CameraControlsProfile.h"

#include <QSettings>

#include "capture/CaptureSession.h"
#include "capture/ui/CaptureChoiceProfile.h"

namespace CameraControlsProfile {

namespace {

QSettings OpenProfile()
{
    return QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Lumora"));
}

QString GroupOf(const std::string& cameraIdentity)
{
    return QStringLiteral("Camera Controls/") + CaptureChoiceProfile::KeyOf(cameraIdentity);
}

}  // namespace

Values ValuesFor(const std::string& cameraIdentity)
{
    Values values;
    if (cameraIdentity.empty()) return values;
    QSettings profile = OpenProfile();
    profile.beginGroup(GroupOf(cameraIdentity));
    for (const QString& key : profile.childKeys()) {
        bool isNumber = false;
        const int value = profile.value(key).toInt(&isNumber);
        if (isNumber) values.emplace_back(key.toStdString(), value);  // a value edited by hand into text is dropped
    }
    return values;
}

void Remember(const std::string& cameraIdentity, const std::string& key, int32_t value)
{
    if (cameraIdentity.empty() || key.empty()) return;
    QSettings profile = OpenProfile();
    profile.beginGroup(GroupOf(cameraIdentity));
    profile.setValue(QString::fromStdString(key), value);
    profile.endGroup();
    profile.sync();
}

void Forget(const std::string& cameraIdentity)
{
    if (cameraIdentity.empty()) return;
    QSettings profile = OpenProfile();
    profile.remove(GroupOf(cameraIdentity));
    profile.sync();
}

std::vector<std::string> ApplyTo(CCaptureSession& session)
{
    return session.ApplyCameraControlValues(ValuesFor(session.CurrentCameraIdentity()));
}

}  // namespace CameraControlsProfile
