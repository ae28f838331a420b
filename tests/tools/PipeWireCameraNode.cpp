#include "tests/tools/PipeWireCameraNode.h"

#include <spa/param/video/format-utils.h>

#include <cstdio>
#include <ctime>
#include <utility>

PipeWireCameraNode::PipeWireCameraNode(pw_loop* loop, const std::string& name, int width, int height, int fps,
                                       Draw draw)
    : loop(loop), width(width), height(height), fps(fps), draw(std::move(draw)) {
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &PipeWireCameraNode::OnStateChanged;
        e.param_changed = &PipeWireCameraNode::OnParamChanged;
        e.process = &PipeWireCameraNode::OnProcess;
        return e;
    }();
    timer = pw_loop_add_timer(loop, &PipeWireCameraNode::OnTick, this);
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                                             PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
                                             PW_KEY_NODE_DESCRIPTION, name.c_str(), nullptr);
    stream = pw_stream_new_simple(loop, "lumora-test-camera", props, &events, this);
    if (!stream) return;

    uint8_t bytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof(bytes));
    const spa_rectangle size = SPA_RECTANGLE(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
    const spa_fraction rate = SPA_FRACTION(static_cast<uint32_t>(fps), 1);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_YUY2), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS);
    published = pw_stream_connect(stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) >= 0;
}

PipeWireCameraNode::~PipeWireCameraNode() {
    if (stream) pw_stream_destroy(stream);
    if (timer) pw_loop_destroy_source(loop, timer);
}

void PipeWireCameraNode::OnProcess(void* self) {
    auto* node = static_cast<PipeWireCameraNode*>(self);
    pw_buffer* buffer = pw_stream_dequeue_buffer(node->stream);
    if (!buffer) return;  // every buffer is with a client: this picture is skipped
    spa_data& plane = buffer->buffer->datas[0];
    const int stride = node->width * 2;
    const uint32_t size = static_cast<uint32_t>(stride * node->height);
    plane.chunk->offset = 0;
    plane.chunk->stride = stride;
    plane.chunk->size = 0;
    if (plane.data && plane.maxsize >= size) {
        node->draw(static_cast<uint8_t*>(plane.data), stride, node->frame);
        plane.chunk->size = size;
    }
    ++node->frame;
    pw_stream_queue_buffer(node->stream, buffer);
}

// The camera's own clock: one picture each tick while a client streams.
void PipeWireCameraNode::OnTick(void* self, uint64_t) {
    pw_stream_trigger_process(static_cast<PipeWireCameraNode*>(self)->stream);
}

void PipeWireCameraNode::OnStateChanged(void* self, pw_stream_state, pw_stream_state state, const char* error) {
    auto* node = static_cast<PipeWireCameraNode*>(self);
    if (state == PW_STREAM_STATE_ERROR) std::fprintf(stderr, "camera stream error: %s\n", error ? error : "?");
    timespec interval{};
    timespec start{};  // all zero: the timer stops
    bool absolute = false;
    if (state == PW_STREAM_STATE_STREAMING) {
        const uint64_t period = 1000000000ULL / static_cast<uint64_t>(node->fps);
        interval.tv_nsec = static_cast<long>(period);
        start.tv_nsec = 1;
        timespec now{};
        if (node->tickOrigin && clock_gettime(CLOCK_MONOTONIC, &now) == 0) {
            const uint64_t current = static_cast<uint64_t>(now.tv_sec) * 1000000000ULL + now.tv_nsec;
            const uint64_t ticks = current > node->tickOrigin ? (current - node->tickOrigin) / period + 1 : 0;
            const uint64_t next = node->tickOrigin + ticks * period;
            start.tv_sec = static_cast<time_t>(next / 1000000000ULL);
            start.tv_nsec = static_cast<long>(next % 1000000000ULL);
            absolute = true;
        }
    }
    pw_loop_update_timer(node->loop, node->timer, &start, &interval, absolute);
}

// Once the format is fixed, ask for buffers of one whole picture each.
void PipeWireCameraNode::OnParamChanged(void* self, uint32_t id, const spa_pod* param) {
    auto* node = static_cast<PipeWireCameraNode*>(self);
    if (id != SPA_PARAM_Format || !param) return;
    uint8_t bytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof(bytes));
    const int stride = node->width * 2;
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(8, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(stride * node->height), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    pw_stream_update_params(node->stream, params, 1);
}

bool ParsePictureSize(const char* text, int& width, int& height) {
    return std::sscanf(text, "%dx%d", &width, &height) == 2 && width >= 2 && height >= 1 && width % 2 == 0;
}
