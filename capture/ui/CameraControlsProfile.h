#pragma once
// The camera settings the user changed, remembered per camera identity in
// the program's profile ("Camera Controls/<identity>/<control key>") and
// applied when that camera starts again.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CCaptureSession;

namespace CameraControlsProfile {

using Values = std::vector<std::pair<std::string, int32_t>>;

Values ValuesFor(const std::string& cameraIdentity);
void Remember(const std::string& cameraIdentity, const std::string& key, int32_t value);
// Nothing remembered for the camera any more (its defaults).
void Forget(const std::string& cameraIdentity);

// Sets the remembered values on the camera of the session's current build;
// the messages of those it refused.
std::vector<std::string> ApplyTo(CCaptureSession& session);

}  // namespace CameraControlsProfile
