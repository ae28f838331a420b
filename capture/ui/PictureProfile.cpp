#include "capture/ui/PictureProfile.h"

#include <QSettings>

#include "app/Profile.h"
#include "capture/CaptureSession.h"
#include "capture/ui/CaptureChoiceProfile.h"

namespace PictureProfile {

namespace {

QString GroupOf(const std::string& cameraIdentity)
{
    return QStringLiteral("Camera Picture/") + CaptureChoiceProfile::KeyOf(cameraIdentity);
}

const QString kRotationKey = QStringLiteral("Rotation");
const QString kMirroredKey = QStringLiteral("Mirrored");

}  // namespace

Picture For(const std::string& cameraIdentity)
{
    Picture picture;
    if (cameraIdentity.empty()) return picture;
    const auto profile = OpenProfile(QString());
    profile->beginGroup(GroupOf(cameraIdentity));
    const int rotation = profile->value(kRotationKey, 0).toInt();
    // A value edited by hand into another angle turns nothing.
    if (rotation == 90 || rotation == 180 || rotation == 270) picture.rotation = rotation;
    picture.mirrored = profile->value(kMirroredKey, false).toBool();
    return picture;
}

void Remember(const std::string& cameraIdentity, const Picture& picture)
{
    if (cameraIdentity.empty()) return;
    const auto profile = OpenProfile(QString());
    profile->beginGroup(GroupOf(cameraIdentity));
    profile->setValue(kRotationKey, picture.rotation);
    profile->setValue(kMirroredKey, picture.mirrored);
    profile->endGroup();
    profile->sync();
}

void FillIn(CaptureChoice& choice, const std::string& cameraIdentity)
{
    const Picture picture = For(cameraIdentity);
    choice.rotation = picture.rotation;
    choice.mirrored = picture.mirrored;
}

}  // namespace PictureProfile
