#include "capture/gst/PlatformMessages.h"

#include <cerrno>

#include "base/SystemErrorText.h"

namespace lumora::gst::messages {

namespace {

std::string Quoted(const std::string& name) { return "“" + name + "”"; }

const char* Doing(CameraStep step) {
    switch (step) {
        case CameraStep::Start: return "启动";
        case CameraStep::Pause: return "暂停";
        default: return "停止";
    }
}

}  // namespace

std::string ElementMissing(const std::string& factory) { return "没有安装 GStreamer 元件" + Quoted(factory); }

std::string CannotLink(const std::string& from, const std::string& to) {
    return "无法把 " + from + " 连接到 " + to;
}

std::string CannotOpenDevice(const std::string& device) { return "无法打开设备" + Quoted(device); }

std::string PreviewCannotReachWindow() { return "无法把预览接到视频窗口"; }

std::string NothingToPreview() { return "没有可预览的画面"; }

std::string CameraSentNoPicture(const std::string& camera, long long seconds) {
    return "摄像头" + Quoted(camera) + "在 " + std::to_string(seconds) + " 秒内没有送来画面。";
}

std::string CameraDidNotChange(const std::string& camera, long long seconds, CameraStep step) {
    return "摄像头" + Quoted(camera) + "在 " + std::to_string(seconds) + " 秒内没有" + Doing(step) + "。";
}

std::string CameraBusy(const std::string& camera) {
    return "摄像头" + Quoted(camera) + "正被其他程序使用，请先关闭使用它的程序。";
}

std::string CameraFailed(const std::string& camera, CameraFault fault, const std::string& detail) {
    std::string text = "摄像头" + Quoted(camera);
    switch (fault) {
        case CameraFault::NeverSent: text += "无法开始发送画面。"; break;
        case CameraFault::StoppedSending: text += "停止了发送画面。"; break;
        case CameraFault::PicturesUnusable: text += "送来的画面无法处理。"; break;
    }
    return detail.empty() ? text : text + "\n" + detail;
}

std::string CameraUnplugged(const std::string& camera) { return "摄像头" + Quoted(camera) + "已断开。"; }

std::string CameraRestarted(const std::string& camera) {
    return "摄像头" + Quoted(camera) + "停止了发送画面，已重新启动。";
}

std::string UnknownError() { return "未知错误"; }

std::string CannotRecordTo(const std::string& path, const std::string& reason) {
    return "无法录制到" + Quoted(path) + "：" + reason;
}

std::string WriteFailed(const std::string& path, const std::string& reason) {
    return "写入" + Quoted(path) + "失败：" + reason;
}

std::string CameraJpegNotFor(const std::string& container) { return "摄像头的 JPEG 画面不能写入 " + container + " 文件"; }

std::string CompressorNotFor(const std::string& container, CompressedStream stream) {
    const char* kind = stream == CompressedStream::Video ? "视频" : "音频";
    return std::string(kind) + "压缩器的输出不能写入 " + container + " 文件";
}

std::string ContainerCannotHold(const std::string& container, CompressedStream stream, const std::string& compressor,
                                const std::vector<std::string>& fitting,
                                const std::vector<std::string>& otherContainers) {
    const bool video = stream == CompressedStream::Video;
    const std::string kind = video ? "视频" : "音频";
    std::string text = container + " 文件不能保存";
    if (compressor.empty())
        text += video ? "不压缩的画面。" : "不压缩的声音。";
    else
        text += kind + "压缩器" + Quoted(compressor) + (video ? "的画面。" : "的声音。");
    std::vector<std::string> ways;
    if (!fitting.empty()) {
        std::string names;
        for (std::size_t i = 0; i < fitting.size(); ++i)
            names += (i == 0 ? "" : i + 1 == fitting.size() ? "或" : "、") + Quoted(fitting[i]);
        ways.push_back("在“视频设备”中选择" + kind + "压缩器" + names);
    }
    if (!otherContainers.empty()) {
        std::string extensions;
        for (std::size_t i = 0; i < otherContainers.size(); ++i)
            extensions += (i == 0 ? "" : " 或 ") + otherContainers[i];
        ways.push_back("在“选项”中把录相文件改为 " + extensions + " 文件");
    }
    if (ways.empty()) return text;
    return text + "请" + ways.front() + (ways.size() > 1 ? "，或者" + ways.back() : "") + "。";
}

std::string RecordingElementsDidNotStart() { return "录相的元件无法启动"; }

std::string RecordingGetsNoPicture() { return "录相无法取得摄像头的画面"; }

std::string RecordingDeviceDidNotStop(long long seconds) {
    return "录相的设备在 " + std::to_string(seconds) + " 秒内没有停止。";
}

std::string GraphCannotRun() { return "捕获图无法运行"; }

std::string NothingWrittenToFile() { return "没有数据写入文件（压缩器可能不适合这个画面）"; }

std::string RecordingDidNotEnd() { return "录相没有及时结束，文件可能缺少索引"; }

std::string SoundInputCannotOpen(const std::string& input) { return "声音输入" + Quoted(input) + "无法打开"; }

std::string SoundInputStalled(const std::string& input) {
    return "声音输入" + Quoted(input) + "超过 2 秒没有送来声音，录相继续，这一段没有声音";
}

std::string SoundInputLost(const std::string& input) {
    return "声音输入" + Quoted(input) + "已断开，录相继续，没有声音";
}

std::string SoundInputMoved(const std::string& input, const std::string& now) {
    return "声音输入" + Quoted(input) + "已断开，录相继续，声音来自" + Quoted(now);
}

std::string NoCameraSettings() { return "这个摄像头没有可调的设置。"; }

std::string NoSuchCameraSetting(uint32_t id) {
    return "摄像头没有这项设置（" + std::to_string(id) + "）。";
}

std::string CannotOpenCameraNode(const std::string& path, const std::string& why) {
    return "无法打开摄像头的设备" + Quoted(path) + "：" + why;
}

std::string CannotReadCameraSettings(const std::string& why) { return "无法读取摄像头的设置：" + why; }

std::string CannotReadCameraValues() { return "无法读取摄像头设置的当前值。"; }

std::string CannotSetCameraSetting(const std::string& name, const std::string& why) {
    return "无法设置" + Quoted(name) + "：" + why;
}

std::string SettingRefused(int code) {
    switch (code) {
        case EBUSY: return "摄像头正忙，或者这项设置由它的自动设置控制着。";
        case EACCES: return "这项设置现在不能改（它的自动设置开着，或者它是只读的）。";
        case EINVAL:
        case ERANGE: return "摄像头不接受这个值。";
        case EIO:
        case EPROTO:
        case ETIMEDOUT: return "摄像头没有回应。";
        case ENODEV:
        case ENXIO: return "摄像头已不再连接。";
        default: return SystemErrorText(code);
    }
}

std::string CameraPicturesUndecodable(const std::string& camera) {
    return "摄像头" + Quoted(camera) + "送来的画面无法解码。";
}

std::string PictureSmallerThanFormat(int width, int height, const std::string& format, unsigned long long bytes,
                                     unsigned long long needed) {
    return "摄像头送来的画面不完整：它声明的格式为 " + std::to_string(width) + " x " + std::to_string(height) + " " +
           format + "（每幅 " + std::to_string(needed) + " 字节），送来的每幅只有 " + std::to_string(bytes) +
           " 字节。请换用摄像头的另一种格式或尺寸。";
}

}  // namespace lumora::gst::messages
