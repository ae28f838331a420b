// The device dialog's picture mode: three lists (size, rate, format) over
// the modes the chosen camera offers, refilled one from the other.

#include <QComboBox>
#include <QSignalBlocker>

#include <algorithm>

#include "capture/VideoModes.h"
#include "capture/ui/CaptureChoiceProfile.h"
#include "capture/ui/DeviceDialog.h"

namespace {

const QString kAutomaticMode = QStringLiteral("自动");

}  // namespace

void CDeviceDialog::FillVideoModes()
{
    const QSignalBlocker quiet(videoModeList);
    const std::string camera = SelectedCameraPath();
    offeredModes.clear();
    if (videoDeviceList->currentIndex() >= 0)
        session.ListVideoModes(videoDeviceList->currentIndex(), offeredModes);
    modeChoices = VideoModeChoices(offeredModes);
    offeredSizes = modeChoices.Sizes();
    videoModeList->clear();
    videoModeList->addItem(kAutomaticMode);
    for (const VideoModeChoices::Size size : offeredSizes)
        videoModeList->addItem(QString::fromStdString(DescribeVideoSize(size)));
    // A remembered mode the camera no longer offers falls back to 自动.
    std::optional<VideoMode> wanted = CaptureChoiceProfile::VideoModeFor(camera);
    if (wanted && std::find(offeredModes.begin(), offeredModes.end(), *wanted) == offeredModes.end()) wanted.reset();
    int selected = 0;
    if (wanted) {
        const auto found = std::find(offeredSizes.begin(), offeredSizes.end(), VideoModeChoices::SizeOf(*wanted));
        selected = 1 + static_cast<int>(found - offeredSizes.begin());
    }
    videoModeList->setCurrentIndex(selected);
    modesCameraPath = camera;
    const std::optional<VideoMode> shown = wanted ? wanted : ChooseDefaultMode(offeredModes);
    preferredRate = shown ? std::optional(VideoModeChoices::RateOf(*shown)) : std::nullopt;
    FillVideoRates(wanted);
}

// A size that does not offer the rate chosen shows its highest instead, but
// the next size that offers it shows the chosen rate again: stepping through
// the sizes does not leave the rate at the lowest some size had.
void CDeviceDialog::OnVideoSizeChosen()
{
    std::optional<VideoMode> wanted = ShownVideoMode();
    if (wanted && preferredRate) {
        wanted->rateNumerator = preferredRate->numerator;
        wanted->rateDenominator = preferredRate->denominator;
    }
    FillVideoRates(wanted);
}

void CDeviceDialog::OnVideoRateChosen()
{
    preferredRate = ChosenVideoRate();
    FillVideoFormats(ShownVideoMode());
}

// Under 自动 the two lists show what 自动 takes, greyed.
void CDeviceDialog::FillVideoRates(std::optional<VideoMode> wanted)
{
    const QSignalBlocker quiet(videoRateList);
    const std::optional<VideoModeChoices::Size> size = ChosenVideoSize();
    if (!size) wanted = ChooseDefaultMode(offeredModes);
    videoRateList->clear();
    offeredRates.clear();
    if (size)
        offeredRates = modeChoices.Rates(*size);
    else if (wanted)
        offeredRates = {VideoModeChoices::RateOf(*wanted)};
    for (const VideoModeChoices::Rate rate : offeredRates)
        videoRateList->addItem(QString::fromStdString(DescribeFrameRate(rate)));
    int selected = offeredRates.empty() ? -1 : 0;  // the highest rate
    if (wanted) {
        const auto found = std::find(offeredRates.begin(), offeredRates.end(), VideoModeChoices::RateOf(*wanted));
        if (found != offeredRates.end()) selected = static_cast<int>(found - offeredRates.begin());
    }
    videoRateList->setCurrentIndex(selected);
    videoRateList->setEnabled(size.has_value());
    FillVideoFormats(wanted);
}

void CDeviceDialog::FillVideoFormats(std::optional<VideoMode> wanted)
{
    const QSignalBlocker quiet(videoFormatList);
    const std::optional<VideoModeChoices::Size> size = ChosenVideoSize();
    const std::optional<VideoModeChoices::Rate> rate = ChosenVideoRate();
    videoFormatList->clear();
    if (!size) {
        if (wanted) videoFormatList->addItem(QString::fromStdString(wanted->format));
    } else if (rate) {
        for (const std::string& format : modeChoices.Formats(*size, *rate, wanted ? wanted->format : std::string()))
            videoFormatList->addItem(QString::fromStdString(format));
    }
    int selected = videoFormatList->count() > 0 ? 0 : -1;  // the cheapest to show
    if (wanted) {
        const int found = videoFormatList->findText(QString::fromStdString(wanted->format));
        if (found >= 0) selected = found;
    }
    videoFormatList->setCurrentIndex(selected);
    videoFormatList->setEnabled(size.has_value());
}

std::optional<VideoModeChoices::Size> CDeviceDialog::ChosenVideoSize() const
{
    const int index = videoModeList->currentIndex();  // entry 0 is 自动
    if (index <= 0 || index > static_cast<int>(offeredSizes.size())) return std::nullopt;
    return offeredSizes[static_cast<std::size_t>(index - 1)];
}

std::optional<VideoModeChoices::Rate> CDeviceDialog::ChosenVideoRate() const
{
    const int index = videoRateList->currentIndex();
    if (index < 0 || index >= static_cast<int>(offeredRates.size())) return std::nullopt;
    return offeredRates[static_cast<std::size_t>(index)];
}

std::optional<VideoMode> CDeviceDialog::ShownVideoMode() const
{
    const std::optional<VideoModeChoices::Rate> rate = ChosenVideoRate();
    if (!rate) return std::nullopt;
    VideoMode shown;
    shown.rateNumerator = rate->numerator;
    shown.rateDenominator = rate->denominator;
    shown.format = videoFormatList->currentText().toStdString();
    return shown;
}

std::optional<VideoMode> CDeviceDialog::ChosenVideoMode() const
{
    const std::optional<VideoModeChoices::Size> size = ChosenVideoSize();
    const std::optional<VideoModeChoices::Rate> rate = ChosenVideoRate();
    if (!size || !rate) return std::nullopt;
    return modeChoices.Find(*size, *rate, videoFormatList->currentText().toStdString());
}
