#pragma once
// The GStreamer side of the capture platform: what a bound filter is here.
// A filter is a recipe that makes fresh elements each time the graph builds
// its pipeline, so a graph can be rebuilt (for a recording branch) without
// moving elements between pipelines.

#include <gst/gst.h>

#include <memory>
#include <string>

#include "capture/CapturePlatform.h"

namespace lumora::gst {

// gst_init once per process, from any thread.
void EnsureInitialised();

// What a filter is to a graph, known from the filter itself (never from
// the name it is added under).
enum class FilterRole { Other, VideoSource, AudioSource, VideoEncoder, AudioEncoder };

class GstFilter : public IBaseFilter {
public:
    virtual FilterRole Role() const { return FilterRole::Other; }
    // The elements of this filter, added to `bin` and linked in a chain; the
    // chain's first and last element are returned (floating refs taken by bin).
    // false with `error` set when an element cannot be made.
    virtual bool AddChain(GstBin* bin, GstElement*& first, GstElement*& last, std::string& error) const = 0;
    virtual std::string Describe() const = 0;

    // Capture devices. With `keepJpeg`, a camera in a JPEG mode ends its
    // chain with the camera's JPEG frames rather than decoded pictures (the
    // graph then decodes them for the preview and can record them as they
    // are); `deliversJpeg` tells which came out. AddChain is the same
    // without `keepJpeg`.
    virtual bool AddSourceChain(GstBin* bin, GstElement*& first, GstElement*& last, bool keepJpeg,
                                bool& deliversJpeg, std::string& error) const {
        deliversJpeg = false;
        (void)keepJpeg;
        return AddChain(bin, first, last, error);
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
GstElement* MakeElement(const char* factory, std::string& error);
// The same, added to `bin` (which owns it).
GstElement* AddElement(GstBin* bin, const char* factory, std::string& error);
// Links two elements or says which could not be.
bool LinkElements(GstElement* a, GstElement* b, std::string& error);

}  // namespace lumora::gst
