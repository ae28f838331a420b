#pragma once
// How each camera's pictures are turned and its preview mirrored (查看 >
// 旋转, 镜像), remembered per camera identity in the program's profile
// ("Camera Picture/<identity>/Rotation", ".../Mirrored") and applied when
// that camera is opened again.

#include <cstdint>
#include <string>

struct CaptureChoice;

namespace PictureProfile {

struct Picture {
    int32_t rotation = 0;  // degrees clockwise: 0, 90, 180 or 270
    bool mirrored = false;
};

// Nothing turned or mirrored when nothing is remembered (or the camera has
// no identity).
Picture For(const std::string& cameraIdentity);
void Remember(const std::string& cameraIdentity, const Picture& picture);
// The choice's camera gets what is remembered for it.
void FillIn(CaptureChoice& choice, const std::string& cameraIdentity);

}  // namespace PictureProfile
