#pragma once
// Every text the GStreamer layer (and the V4L2 controls) has for the user,
// one function each, so that the wording is kept in one place.

#include <cstdint>
#include <string>
#include <vector>

namespace lumora::gst::messages {

// ------------------------------------------------------------ elements
std::string ElementMissing(const std::string& factory);
std::string CannotLink(const std::string& from, const std::string& to);
std::string CannotOpenDevice(const std::string& device);
std::string PreviewCannotReachWindow();

// ------------------------------------------------------------ the camera
enum class CameraStep { Start, Pause, Stop };
std::string NothingToPreview();
std::string CameraSentNoPicture(const std::string& camera, long long seconds);
std::string CameraDidNotChange(const std::string& camera, long long seconds, CameraStep step);
std::string CameraBusy(const std::string& camera);
// What went wrong with a camera, said in words the user knows; the
// library's own text, if any, follows on a second line.
enum class CameraFault { NeverSent, StoppedSending, PicturesUnusable };
std::string CameraFailed(const std::string& camera, CameraFault fault, const std::string& detail);
std::string CameraUnplugged(const std::string& camera);
std::string CameraRestarted(const std::string& camera);
std::string UnknownError();

// ------------------------------------------------------------ recording
enum class CompressedStream { Video, Audio };
std::string CannotRecordTo(const std::string& path, const std::string& reason);
std::string WriteFailed(const std::string& path, const std::string& reason);
// `container`: "AVI", "MKV", "MP4".
std::string CameraJpegNotFor(const std::string& container);
std::string CompressorNotFor(const std::string& container, CompressedStream stream);
// Refused at Record: a file of `container` cannot hold the stream of
// `compressor` ("" = uncompressed); `fitting`: the listed compressors it
// holds, `otherContainers`: the extensions that hold the whole recording.
std::string ContainerCannotHold(const std::string& container, CompressedStream stream, const std::string& compressor,
                                const std::vector<std::string>& fitting,
                                const std::vector<std::string>& otherContainers);
std::string RecordingElementsDidNotStart();
std::string RecordingGetsNoPicture();
std::string RecordingDeviceDidNotStop(long long seconds);
std::string GraphCannotRun();
std::string NothingWrittenToFile();
std::string RecordingDidNotEnd();

// ------------------------------------------------------------ sound
std::string SoundInputCannotOpen(const std::string& input);
std::string SoundInputStalled(const std::string& input);
std::string SoundInputLost(const std::string& input);
std::string SoundInputMoved(const std::string& input, const std::string& now);

// ------------------------------------------------------------ camera settings
std::string NoCameraSettings();
std::string NoSuchCameraSetting(uint32_t id);
std::string CannotOpenCameraNode(const std::string& path, const std::string& why);
std::string CannotReadCameraSettings(const std::string& why);
std::string CannotReadCameraValues();
std::string CannotSetCameraSetting(const std::string& name, const std::string& why);
// Why a camera refused a setting, by the errno of the refusal.
std::string SettingRefused(int code);

// ------------------------------------------------------------ damaged pictures
std::string CameraPicturesUndecodable(const std::string& camera);
// A picture smaller than the format the camera announced for it.
std::string PictureSmallerThanFormat(int width, int height, const std::string& format, unsigned long long bytes,
                                     unsigned long long needed);

}  // namespace lumora::gst::messages
