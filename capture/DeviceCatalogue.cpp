// The capture session's device catalogue: the video inputs and the
// compressors it lists for the options and binds (by their place in a list,
// or a camera by its identity), the camera's mode and the sound input.

#include <algorithm>
#include <string>

#include "capture/CaptureSession.h"
#include "capture/VideoModes.h"
#include "base/Utf8.h"

namespace {

// A display name longer than this is cut (on a character boundary) so that it
// fits the 2048-byte name buffer of the lists with its terminator.
constexpr std::size_t kMaxFriendlyNameBytes = 2047;

}  // namespace

int CCaptureSession::ListVideoDevices(IComboBox* combo) {
    return ListCategory(combo, DeviceCategory::VideoInputDevice, true);
}

int CCaptureSession::ListVideoCompressors(IComboBox* combo) {
    return ListCategory(combo, DeviceCategory::VideoCompressor, false);
}

int CCaptureSession::ListAudioCompressors(IComboBox* combo) {
    return ListCategory(combo, DeviceCategory::AudioCompressor, false);
}

int CCaptureSession::ListCategory(IComboBox* combo, DeviceCategory category, bool createEnumerator) {
    if (!combo) return -1;
    if (createEnumerator) {
        deviceEnumerator.reset();
        if (!platform || platform->CreateDeviceEnumerator(deviceEnumerator) != S_OK) {
            deviceEnumerator.reset();
            return -1;
        }
    }
    if (!deviceEnumerator) return -1;

    int count = 0;
    const bool listed = WalkEntries(*deviceEnumerator, category, [&](int32_t, IMoniker&, const std::string& name) {
        combo->AddString(CutUtf8(name, kMaxFriendlyNameBytes));
        ++count;
        return false;
    });
    return listed ? count : -1;
}

bool CCaptureSession::BindVideoDevice(int32_t index, std::shared_ptr<IBaseFilter>& target) {
    return BindCategory(DeviceCategory::VideoInputDevice, index, target);
}

bool CCaptureSession::BindVideoCompressor(int32_t index, std::shared_ptr<IBaseFilter>& target) {
    return BindCategory(DeviceCategory::VideoCompressor, index, target);
}

bool CCaptureSession::BindAudioCompressor(int32_t index, std::shared_ptr<IBaseFilter>& target) {
    return BindCategory(DeviceCategory::AudioCompressor, index, target);
}

// The entries of `category` whose names can be read, counted from 0, in
// the enumerator's order: what a listing shows and a bind counts.
bool CCaptureSession::WalkEntries(ICreateDevEnum& enumerator, DeviceCategory category, const EntryVisitor& visit) {
    std::unique_ptr<IEnumMoniker> entries;
    if (enumerator.CreateClassEnumerator(category, entries) != S_OK || !entries) return false;
    entries->Reset();
    int32_t counted = 0;
    std::unique_ptr<IMoniker> entry;
    while (entries->Next(entry) == S_OK && entry) {
        std::string name;
        if (SUCCEEDED(entry->ReadFriendlyName(name))) {
            if (visit(counted, *entry, name)) break;
            ++counted;
        }
        entry.reset();
    }
    return true;
}

// A device's identity; an entry without one is known by its name.
std::string CCaptureSession::IdentityOf(IMoniker& entry, const std::string& name) {
    std::string path;
    if (FAILED(entry.ReadDevicePath(path)) || path.empty()) path = name;
    return path;
}

bool CCaptureSession::WalkCategory(DeviceCategory category, const EntryVisitor& visit) {
    if (!platform) return false;
    std::unique_ptr<ICreateDevEnum> enumerator;
    if (platform->CreateDeviceEnumerator(enumerator) != S_OK || !enumerator) return false;
    return WalkEntries(*enumerator, category, visit);
}

bool CCaptureSession::BindCategory(DeviceCategory category, int32_t index,
                                   std::shared_ptr<IBaseFilter>& target) {
    if (index < 0) return false;
    return WalkCategory(category, [&](int32_t counted, IMoniker& entry, const std::string&) {
        if (counted != index) return false;
        entry.BindToObject(target);
        return true;
    });
}

int CCaptureSession::ListAudioInputs(IComboBox* combo, std::vector<std::string>& devicePaths) {
    devicePaths.clear();
    if (!combo) return -1;
    int count = 0;
    const bool listed = WalkCategory(DeviceCategory::AudioInputDevice, [&](int32_t, IMoniker& entry, const std::string& name) {
        combo->AddString(CutUtf8(name, kMaxFriendlyNameBytes));
        devicePaths.push_back(IdentityOf(entry, name));
        ++count;
        return false;
    });
    return listed ? count : -1;
}

bool CCaptureSession::ReadVideoDevicePath(int32_t index, std::string& path) {
    path.clear();
    if (index < 0) return false;
    bool found = false;
    WalkCategory(DeviceCategory::VideoInputDevice, [&](int32_t counted, IMoniker& entry, const std::string& name) {
        if (counted != index) return false;
        path = IdentityOf(entry, name);
        found = true;
        return true;
    });
    return found;
}

int CCaptureSession::ListVideoModes(int32_t index, std::vector<VideoMode>& modes) {
    modes.clear();
    FilterPtr device;
    if (!BindVideoDevice(index, device) || !device) return -1;
    IAMStreamConfig* config = device->QueryStreamConfig();
    if (!config || FAILED(config->GetModes(modes))) {
        modes.clear();
        return -1;
    }
    return static_cast<int>(modes.size());
}

bool CCaptureSession::BindVideoDeviceByPath(const std::string& path, std::shared_ptr<IBaseFilter>& target) {
    // A camera's identity gains its node while a twin of the same name and
    // place is listed, and loses it when the twin goes: an identity remembered
    // the other way still finds it, once no exact one is listed.
    const auto near = [&path](const std::string& identity) {
        const std::string& shorter = identity.size() < path.size() ? identity : path;
        const std::string& longer = identity.size() < path.size() ? path : identity;
        return longer.size() > shorter.size() && longer.compare(0, shorter.size(), shorter) == 0 &&
               longer[shorter.size()] == '|';
    };
    bool found = false;
    for (const bool exact : {true, false}) {
        // An empty category cannot be walked: then the device is not listed either.
        WalkCategory(DeviceCategory::VideoInputDevice, [&](int32_t, IMoniker& entry, const std::string& name) {
            const std::string identity = IdentityOf(entry, name);
            if (exact ? identity != path : !near(identity)) return false;
            entry.BindToObject(target);
            found = true;
            return true;
        });
        if (found) break;
    }
    return found;
}

// The chosen mode when the camera still offers it, else its default mode.
void CCaptureSession::ChooseVideoMode() {
    IAMStreamConfig* config = videoCaptureFilter->QueryStreamConfig();
    std::vector<VideoMode> modes;
    if (!config || FAILED(config->GetModes(modes)) || modes.empty()) return;
    const std::optional<VideoMode>& chosen = captureChoice.videoMode;
    if (chosen && std::find(modes.begin(), modes.end(), *chosen) != modes.end())
        currentVideoMode = chosen;
    else
        currentVideoMode = ChooseDefaultMode(modes);
    if (currentVideoMode && FAILED(config->SetFormat(*currentVideoMode))) currentVideoMode.reset();
}

void CCaptureSession::BindAudioInput() {
    audioCaptureFilter.reset();
    if (captureChoice.sound == CaptureChoice::Sound::None) return;
    BindAudioInputByPath(captureChoice.sound == CaptureChoice::Sound::Device ? captureChoice.audioDevicePath : "",
                         audioCaptureFilter);
}

void CCaptureSession::BindAudioInputByPath(const std::string& path, std::shared_ptr<IBaseFilter>& target) {
    bool bound = false;
    if (!path.empty()) {
        WalkCategory(DeviceCategory::AudioInputDevice, [&](int32_t, IMoniker& entry, const std::string& name) {
            if (IdentityOf(entry, name) != path) return false;
            entry.BindToObject(target);
            bound = true;
            return true;
        });
    }
    // The system's default input is listed first.
    if (!bound) BindCategory(DeviceCategory::AudioInputDevice, 0, target);
}

std::unique_ptr<ISoundMeter> CCaptureSession::MeterAudioInput(const std::string& devicePath,
                                                              std::function<void(const SoundLevel&)> handler) {
    std::unique_ptr<ISoundMeter> meter;
    if (!platform) return meter;
    FilterPtr input;
    BindAudioInputByPath(devicePath, input);
    if (input) platform->CreateSoundMeter(input, std::move(handler), meter);
    return meter;
}
