#pragma once
// The GStreamer side of the capture platform: what a bound filter is here.
// A filter is a recipe that makes fresh elements each time the graph builds
// its pipeline, so a graph can be rebuilt (for a recording branch) without
// moving elements between pipelines.

#include <gst/gst.h>

#include <array>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "capture/CapturePlatform.h"
#include "capture/gst/Result.h"

namespace lumora::gst {

// gst_init once per process, from any thread.
void EnsureInitialised();

// What a filter is to a graph, known from the filter itself (never from
// the name it is added under).
enum class FilterRole { Other, VideoSource, AudioSource, VideoEncoder, AudioEncoder };

// A filter's elements in a bin, linked in a chain (the bin owns them).
struct ElementChain {
    GstElement* first = nullptr;
    GstElement* last = nullptr;
    bool deliversJpeg = false;  // see AddSourceChain
};

class GstFilter : public IBaseFilter {
public:
    virtual FilterRole Role() const { return FilterRole::Other; }
    // The elements of this filter, added to `bin` and linked in a chain;
    // fails when an element cannot be made.
    virtual Result<ElementChain> AddChain(GstBin* bin) const = 0;
    virtual std::string Describe() const = 0;

    // Capture devices. With `keepJpeg`, a camera in a JPEG mode ends its
    // chain with the camera's JPEG frames rather than decoded pictures (the
    // graph then decodes them for the preview and can record them as they
    // are); `deliversJpeg` tells which came out. AddChain is the same
    // without `keepJpeg`.
    virtual Result<ElementChain> AddSourceChain(GstBin* bin, bool keepJpeg) const {
        (void)keepJpeg;
        return AddChain(bin);
    }
    // The device behind a capture device filter (nullptr for other filters),
    // so that a graph notices when it goes away.
    virtual GstDevice* Device() const { return nullptr; }
    // Encoders: the element factory's name ("jpegenc"...); "" for others.
    virtual std::string FactoryName() const { return ""; }
};

enum class SourceKind { Video, Audio };

// A capture device of the device monitor.
std::shared_ptr<GstFilter> MakeDeviceFilter(GstDevice* device, SourceKind kind);

// An encoder element factory.
std::shared_ptr<GstFilter> MakeEncoderFilter(const std::string& factoryName);
// false for encoders that cannot record a live camera into an AVI file.
bool EncoderRecordsLive(const char* factoryName);

// Makes an element or says which one is missing.
Result<GstElement*> MakeElement(const char* factory);
// The same, added to `bin` (which owns it).
Result<GstElement*> AddElement(GstBin* bin, const char* factory);
// Links two elements or says which could not be.
Status LinkElements(GstElement* a, GstElement* b);
// Links each element to the next; the first link that fails is said.
Status LinkChain(std::initializer_list<GstElement*> chain);

// Adds an element of each factory to `bin`. All are tried, so that a
// failure names the last one missing.
template <std::size_t N>
Result<std::array<GstElement*, N>> AddElements(GstBin* bin, const char* const (&factories)[N]) {
    std::array<GstElement*, N> made{};
    std::optional<Failure> missing;
    for (std::size_t i = 0; i < N; ++i) {
        Result<GstElement*> element = AddElement(bin, factories[i]);
        if (element.ok())
            made[i] = element.value();
        else
            missing = Fail(element.error());
    }
    if (missing) return *missing;
    return made;
}

}  // namespace lumora::gst
