// A camera published through PipeWire as a webcam's node is: a Video/Source
// node that drives its own graph, sending a moving ball in YUY2 at a fixed
// size and rate, with buffers PipeWire allocates and shares with each client.
//   lumora_pipewire_camera NAME [WIDTHxHEIGHT [FPS]]
// It runs until SIGTERM or SIGINT; its node goes with it. Stopped with
// SIGSTOP, its node stays but sends nothing, as a camera that hangs.
//
// gst-launch's pipewiresink was the camera before: it follows another
// driver, and when a client connects while it is between paused and
// streaming it can lose the buffers it released meanwhile and wait for them
// for good, so the client sees one picture and then nothing.

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Camera {
    pw_main_loop* loop = nullptr;
    pw_stream* stream = nullptr;
    spa_source* timer = nullptr;
    spa_hook listener{};
    int width = 640, height = 480, fps = 30;
    uint64_t frame = 0;
};

// Dark grey with a white ball that bounces from side to side and up and down.
void DrawFrame(const Camera& camera, uint8_t* data, int stride) {
    const int period = camera.fps * 4;
    const int step = static_cast<int>(camera.frame % static_cast<uint64_t>(period));
    const int radius = std::max(4, camera.height / 10);
    const auto bounce = [&](int span, int offset) {
        const int travel = std::max(1, span - 2 * radius);
        const int position = (step * 2 * travel / period + offset) % (2 * travel);
        return radius + (position < travel ? position : 2 * travel - position);
    };
    const int centreX = bounce(camera.width, 0);
    const int centreY = bounce(camera.height, camera.height / 3);
    for (int y = 0; y < camera.height; ++y) {
        uint8_t* row = data + static_cast<std::ptrdiff_t>(y) * stride;
        const int dy = y - centreY;
        for (int x = 0; x < camera.width; x += 2) {
            const int dx = x - centreX;
            const bool inside = dx * dx + dy * dy <= radius * radius;
            const uint8_t luma = inside ? 235 : 48;
            uint8_t* pair = row + x * 2;
            pair[0] = luma;
            pair[1] = 128;
            pair[2] = luma;
            pair[3] = 128;
        }
    }
}

void OnProcess(void* data) {
    auto* camera = static_cast<Camera*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(camera->stream);
    if (!buffer) return;  // every buffer is with a client: this picture is skipped
    spa_data& plane = buffer->buffer->datas[0];
    const int stride = camera->width * 2;
    const uint32_t size = static_cast<uint32_t>(stride * camera->height);
    if (plane.data && plane.maxsize >= size) {
        DrawFrame(*camera, static_cast<uint8_t*>(plane.data), stride);
        plane.chunk->offset = 0;
        plane.chunk->stride = stride;
        plane.chunk->size = size;
    } else {
        plane.chunk->size = 0;
    }
    ++camera->frame;
    pw_stream_queue_buffer(camera->stream, buffer);
}

// The camera's own clock: one picture each tick, while a client streams.
void OnTick(void* data, uint64_t) {
    auto* camera = static_cast<Camera*>(data);
    pw_stream_trigger_process(camera->stream);
}

void OnStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* camera = static_cast<Camera*>(data);
    if (state == PW_STREAM_STATE_ERROR) std::fprintf(stderr, "camera stream error: %s\n", error ? error : "?");
    timespec interval{};
    timespec start{};
    if (state == PW_STREAM_STATE_STREAMING) {
        interval.tv_nsec = 1000000000L / camera->fps;
        start.tv_nsec = 1;
    }
    pw_loop_update_timer(pw_main_loop_get_loop(camera->loop), camera->timer, &start, &interval, false);
}

// Once the format is fixed, ask for buffers of one whole picture each.
void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* camera = static_cast<Camera*>(data);
    if (id != SPA_PARAM_Format || !param) return;
    uint8_t bytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof(bytes));
    const int stride = camera->width * 2;
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(8, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(stride * camera->height), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    pw_stream_update_params(camera->stream, params, 1);
}

void Quit(void* data, int) { pw_main_loop_quit(static_cast<Camera*>(data)->loop); }

bool ParseSize(const char* text, int& width, int& height) {
    return std::sscanf(text, "%dx%d", &width, &height) == 2 && width >= 16 && height >= 16 && width % 2 == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Camera camera;
    if (argc < 2 || (argc > 2 && !ParseSize(argv[2], camera.width, camera.height)) ||
        (argc > 3 && (camera.fps = std::atoi(argv[3])) <= 0)) {
        std::fprintf(stderr, "usage: %s NAME [WIDTHxHEIGHT [FPS]]\n", argv[0]);
        return 2;
    }
    pw_init(&argc, &argv);
    camera.loop = pw_main_loop_new(nullptr);
    pw_loop* loop = pw_main_loop_get_loop(camera.loop);
    pw_loop_add_signal(loop, SIGINT, Quit, &camera);
    pw_loop_add_signal(loop, SIGTERM, Quit, &camera);
    camera.timer = pw_loop_add_timer(loop, OnTick, &camera);

    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = OnStateChanged;
        e.param_changed = OnParamChanged;
        e.process = OnProcess;
        return e;
    }();
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                                             PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
                                             PW_KEY_NODE_DESCRIPTION, argv[1], nullptr);
    camera.stream = pw_stream_new_simple(loop, "lumora-test-camera", props, &events, &camera);

    uint8_t bytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof(bytes));
    const spa_rectangle size = SPA_RECTANGLE(static_cast<uint32_t>(camera.width), static_cast<uint32_t>(camera.height));
    const spa_fraction rate = SPA_FRACTION(static_cast<uint32_t>(camera.fps), 1);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_YUY2), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS);
    if (pw_stream_connect(camera.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) {
        std::fprintf(stderr, "the camera could not be published\n");
        return 1;
    }
    pw_main_loop_run(camera.loop);

    pw_stream_destroy(camera.stream);
    pw_main_loop_destroy(camera.loop);
    pw_deinit();
    return 0;
}
