#include "capture/ui/CameraControlsProfile.h"

#include <QSettings>

#include "app/Profile.h"
#include "capture/CaptureSession.h"
#include "capture/ui/CaptureChoiceProfile.h"

namespace CameraControlsProfile {

namespace {

QString GroupOf(const std::string& cameraIdentity)
{
    return QStringLiteral("Camera Controls/") + CaptureChoiceProfile::KeyOf(cameraIdentity);
}

}  // namespace

Values ValuesFor(const std::string& cameraIdentity)
{
    Values values;
    if (cameraIdentity.empty()) return values;
    const auto profile = OpenProfile(QString());
    profile->beginGroup(GroupOf(cameraIdentity));
    for (const QString& key : profile->childKeys()) {
        bool isNumber = false;
        const int value = profile->value(key).toInt(&isNumber);
        if (isNumber) values.emplace_back(key.toStdString(), value);  // a value edited by hand into text is dropped
    }
    return values;
}

void Remember(const std::string& cameraIdentity, const std::string& key, int32_t value)
{
    if (cameraIdentity.empty() || key.empty()) return;
    const auto profile = OpenProfile(QString());
    profile->beginGroup(GroupOf(cameraIdentity));
    profile->setValue(QString::fromStdString(key), value);
    profile->endGroup();
    profile->sync();
}

void Forget(const std::string& cameraIdentity)
{
    if (cameraIdentity.empty()) return;
    const auto profile = OpenProfile(QString());
    profile->remove(GroupOf(cameraIdentity));
    profile->sync();
}

std::vector<std::string> ApplyTo(CCaptureSession& session)
{
    return session.ApplyCameraControlValues(ValuesFor(session.CurrentCameraIdentity()));
}

}  // namespace CameraControlsProfile
