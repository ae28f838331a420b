// The test camera of scripts/with-pipewire: a PipeWire camera node sending a
// white ball that bounces over a dark grey picture.
//   lumora_pipewire_camera NAME [WIDTHxHEIGHT [FPS]]
// It runs until SIGTERM or SIGINT; its node goes with it. Stopped with
// SIGSTOP, its node stays but sends nothing, as a camera that hangs.

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "tests/tools/PipeWireCameraNode.h"

namespace {

// The ball goes from side to side and up and down, round in 4 s.
void DrawBall(uint8_t* pixels, int stride, uint64_t frame, int width, int height, int fps) {
    const int period = fps * 4;
    const int step = static_cast<int>(frame % static_cast<uint64_t>(period));
    const int radius = std::max(4, height / 10);
    const auto bounce = [&](int span, int offset) {
        const int travel = std::max(1, span - 2 * radius);
        const int position = (step * 2 * travel / period + offset) % (2 * travel);
        return radius + (position < travel ? position : 2 * travel - position);
    };
    const int centreX = bounce(width, 0);
    const int centreY = bounce(height, height / 3);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        const int dy = y - centreY;
        for (int x = 0; x < width; x += 2) {
            const int dx = x - centreX;
            const uint8_t luma = dx * dx + dy * dy <= radius * radius ? 235 : 48;
            uint8_t* pair = row + x * 2;
            pair[0] = pair[2] = luma;
            pair[1] = pair[3] = 128;
        }
    }
}

void Quit(void* loop, int) { pw_main_loop_quit(static_cast<pw_main_loop*>(loop)); }

}  // namespace

int main(int argc, char** argv) {
    int width = 640, height = 480, fps = 30;
    if (argc < 2 || (argc > 2 && !ParsePictureSize(argv[2], width, height)) ||
        (argc > 3 && (fps = std::atoi(argv[3])) <= 0)) {
        std::fprintf(stderr, "usage: %s NAME [WIDTHxHEIGHT [FPS]]\n", argv[0]);
        return 2;
    }
    pw_init(&argc, &argv);
    pw_main_loop* main = pw_main_loop_new(nullptr);
    pw_loop* loop = pw_main_loop_get_loop(main);
    pw_loop_add_signal(loop, SIGINT, Quit, main);
    pw_loop_add_signal(loop, SIGTERM, Quit, main);
    int status = 0;
    {
        PipeWireCameraNode camera(loop, argv[1], width, height, fps, [=](uint8_t* pixels, int stride, uint64_t frame) {
            DrawBall(pixels, stride, frame, width, height, fps);
        });
        if (camera.Published()) {
            pw_main_loop_run(main);
        } else {
            std::fprintf(stderr, "the camera could not be published\n");
            status = 1;
        }
    }
    pw_main_loop_destroy(main);
    pw_deinit();
    return status;
}
