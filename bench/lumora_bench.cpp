// Lumora's benchmarks: what a photo, the preview and a recording cost on this
// machine, each beside a reference tool run on the same input in the same run.
//
//   lumora_bench [--record-seconds N] [--snapshots N] [--cycles N] [--repeats N] [--tsv]
//                [--containers-only]
//
// Prints one table (--tsv: its rows as tab-separated lines, for
// scripts/bench to put the window rows below them). Nothing here is
// asserted; the tests check behaviour.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "capture/CaptureSession.h"
#include "capture/gst/GstCapturePlatform.h"
#include "tests/support/gst/GstTesting.h"
#include "settings/SettingsFile.h"
#include "snapshot/GrabberCallback.h"
#include "snapshot/JpegConversion.h"
#include "tests/AviReader.h"

extern char** environ;
namespace fs = std::filesystem;

using namespace bench;

namespace {

struct Options {
    int recordSeconds = 30;
    int snapshots = 1000;
    int repeats = 30;
    int cycles = 300;  // Record / Stop / Start video
    bool tabSeparated = false;
    bool containersOnly = false;  // the container rows alone
};




double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs a command; returns its wall time and (through `cpu`) its CPU seconds,
// or a negative time when it could not run.
double RunCommand(const std::vector<std::string>& argv, double* cpu = nullptr) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const auto start = Clock::now();
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall = Seconds(Clock::now() - start);
    if (cpu) *cpu = CpuSeconds(usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? wall : -1;
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long OpenDescriptors() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

// A frame as the grabber hands it on: bottom-up BGR rows, each a multiple of
// 4 bytes. Smooth colour fields with fine detail, so JPEG has real work.
std::vector<uint8_t> MakeFrame(int width, int height) {
    const int stride = (width * 3 + 3) & ~3;
    std::vector<uint8_t> frame(static_cast<std::size_t>(stride) * height);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = &frame[static_cast<std::size_t>(y) * stride];
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int grain = static_cast<int>((noise >> 16) & 15);
            row[x * 3 + 0] = static_cast<uint8_t>((x * 255 / width + grain) & 255);
            row[x * 3 + 1] = static_cast<uint8_t>((y * 255 / height + grain) & 255);
            row[x * 3 + 2] = static_cast<uint8_t>(((x + y) * 128 / (width + height) + ((x / 40 + y / 40) % 2) * 100) & 255);
        }
    }
    return frame;
}

void RemovePhotos(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("temp.", 0) != 0 && name != "setting.ini" && entry.is_regular_file()) fs::remove(entry.path());
    }
}

// One armed frame through the grabber: from the frame to the stored photo.
double TakeOnePhoto(std::vector<uint8_t>& frame) {
    snapshotArmed.store(1);
    const auto start = Clock::now();
    grabberCallback.BufferCB(0.0, frame.data(), static_cast<int32_t>(frame.size()));
    while (snapshotArmed.load() != 0) std::this_thread::yield();  // written on the photo thread
    return Seconds(Clock::now() - start);
}




void BenchSnapshots(const fs::path& folder, const Options& options) {
    for (auto [width, height] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        grabberCallback.frameWidth.store(width);
        grabberCallback.frameHeight.store(height);
        std::vector<uint8_t> frame = MakeFrame(width, height);
        const std::string size = std::to_string(width) + "x" + std::to_string(height);

        double bmp = 0, jpeg = 0;
        for (int format : {0, 1}) {
            settings.photoFormat = format;
            std::vector<double> times;
            for (int i = 0; i < options.repeats; ++i) {
                times.push_back(TakeOnePhoto(frame));
                RemovePhotos(folder);
            }
            (format ? jpeg : bmp) = Median(times);
        }

        // The reference tools read the same temp.bmp that the last photo wrote.
        const std::string bitmap = (folder / "temp.bmp").string();
        const std::string out = (folder / "reference.jpg").string();
        std::vector<double> cjpeg, convert;
        for (int i = 0; i < options.repeats; ++i) {
            cjpeg.push_back(RunCommand({"cjpeg", "-quality", "60", "-outfile", out, bitmap}));
            convert.push_back(RunCommand({"convert", bitmap, "-quality", "60", out}));
        }
        const double cjpegTime = std::count_if(cjpeg.begin(), cjpeg.end(), [](double t) { return t < 0; }) ? -1 : Median(cjpeg);
        const double convertTime =
            std::count_if(convert.begin(), convert.end(), [](double t) { return t < 0; }) ? -1 : Median(convert);
        fs::remove(out);
        table.push_back({"photo BMP " + size + " (frame to stored file)", Ms(bmp), "", ""});
        table.push_back({"photo JPEG q60 " + size + " vs cjpeg -quality 60", Ms(jpeg), Ms(cjpegTime), Ratio(jpeg, cjpegTime)});
        table.push_back({"photo JPEG q60 " + size + " vs convert -quality 60", Ms(jpeg), Ms(convertTime),
                         Ratio(jpeg, convertTime)});
    }
}

// `compressor`: as the device dialog lists it; `shortName` for the table.
// `mode`: the simulated camera's; "" compressor records raw pictures (the
// file is synced to disk every 2 s meanwhile, as every recording is).
void BenchRecording(const fs::path& folder, const Options& options, const char* compressor, const char* shortName,
                    const std::string& mode = "1280x720@30/1:I420") {
    const fs::path file = folder / "bench.avi";
    StorePath(settings.videoFilePath, file.string());
    CCaptureSession session{CreateGstCapturePlatform()};
    lumora::gst::SetTestCameraModes({mode});
    CountingOwner owner;
    std::string message;
    session.SetMessageHandler([&](const std::string& text) { message = text; });
    const std::string label =
        "record " + std::to_string(options.recordSeconds) + " s " + mode.substr(0, mode.find('@')) + "@30 " +
        shortName + " + sound";
    if (!BuildTestPattern(session, owner, compressor) || !session.StartRecording()) {
        table.push_back({label, "failed: " + message, "", ""});
        return;
    }
    const double startCpu = OwnCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(options.recordSeconds));
    session.Stop();
    const double cpu = OwnCpuSeconds() - startCpu;
    const unsigned long long offered = lumora::gst::FramesOfferedToRecording();
    session.TearDown();
    const AviInfo avi = ReadAvi(file.string());
    // Past 1 GB the main header counts the first part only.
    const uint32_t written = avi.odmlFrames ? avi.odmlFrames : avi.totalFrames;
    const long long dropped = static_cast<long long>(offered) - static_cast<long long>(written);
    table.push_back({label + ": frames written / offered",
                     std::to_string(written) + " / " + std::to_string(offered),
                     "expected " + std::to_string(options.recordSeconds * 30), "dropped " + std::to_string(std::max(0LL, dropped))});
    table.push_back({label + ": CPU", Format("%.2f s", cpu), Format("%.1f MB file", avi.fileSize / 1e6), ""});
    fs::remove(file);
    lumora::gst::ResetTestCameraModes();
}

// Record, Stop, Start video, again and again, as a user does: every cycle
// builds two pipelines, and none may stay behind. Counted after a few
// warm-up cycles (caches, thread pools), while the preview runs.
void BenchRecordingCycles(const fs::path& folder, const Options& options) {
    StorePath(settings.videoFilePath, (folder / "cycle.avi").string());
    CCaptureSession session{CreateGstCapturePlatform()};
    lumora::gst::SetTestCameraModes({"640x480@30/1:I420"});
    CountingOwner owner;
    const auto waitForFrames = [&owner] {
        const int target = owner.frames.load() + 2;
        for (int i = 0; i < 400 && owner.frames.load() < target; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    const std::string label = std::to_string(options.cycles) + " record/stop/start cycles";
    if (!BuildTestPattern(session, owner, "JPEG image encoder")) {
        table.push_back({label, "build failed", "", ""});
        return;
    }
    long rssBefore = 0, fdsBefore = 0;
    constexpr int kWarmUp = 5;
    for (int cycle = -kWarmUp; cycle < options.cycles; ++cycle) {
        if (cycle == 0) rssBefore = ResidentKiB(), fdsBefore = OpenDescriptors();
        if (!session.StartRecording()) {
            table.push_back({label, "recording failed in cycle " + std::to_string(cycle), "", ""});
            return;
        }
        session.Stop();
        session.Run();
        waitForFrames();
    }
    const long rssAfter = ResidentKiB(), fdsAfter = OpenDescriptors();
    session.TearDown();
    lumora::gst::ResetTestCameraModes();
    fs::remove(folder / "cycle.avi");
    table.push_back({label + ": descriptors before / after",
                     std::to_string(fdsBefore) + " / " + std::to_string(fdsAfter), "",
                     Format("%+.0f", static_cast<double>(fdsAfter - fdsBefore))});
    table.push_back({label + ": resident memory before / after",
                     std::to_string(rssBefore) + " / " + std::to_string(rssAfter) + " KiB", "",
                     Format("%+.0f KiB", static_cast<double>(rssAfter - rssBefore))});
}

void BenchMemory(const fs::path& folder, const Options& options) {
    grabberCallback.frameWidth.store(640);
    grabberCallback.frameHeight.store(480);
    settings.photoFormat = 1;
    std::vector<uint8_t> frame = MakeFrame(640, 480);
    TakeOnePhoto(frame);  // warm up the encoder and the allocator
    RemovePhotos(folder);
    const long rssBefore = ResidentKiB(), fdsBefore = OpenDescriptors();
    for (int i = 0; i < options.snapshots; ++i) {
        TakeOnePhoto(frame);
        if (i % 50 == 49) RemovePhotos(folder);
    }
    RemovePhotos(folder);
    const long rssAfter = ResidentKiB(), fdsAfter = OpenDescriptors();
    table.push_back({"resident memory before / after " + std::to_string(options.snapshots) + " photos",
                     std::to_string(rssBefore) + " / " + std::to_string(rssAfter) + " KiB", "",
                     Format("%+.0f KiB", static_cast<double>(rssAfter - rssBefore))});
    table.push_back({"open descriptors before / after", std::to_string(fdsBefore) + " / " + std::to_string(fdsAfter), "",
                     Format("%+.0f", static_cast<double>(fdsAfter - fdsBefore))});
}

void PrintTabSeparated() {
    for (const Row& r : table)
        std::printf("%s\t%s\t%s\t%s\n", r.what.c_str(), r.ours.c_str(), r.reference.c_str(), r.ratio.c_str());
}

void PrintTable() {
    std::size_t widths[4] = {4, 4, 9, 5};
    auto widen = [&](const Row& r) {
        widths[0] = std::max(widths[0], r.what.size());
        widths[1] = std::max(widths[1], r.ours.size());
        widths[2] = std::max(widths[2], r.reference.size());
        widths[3] = std::max(widths[3], r.ratio.size());
    };
    const Row header{"what", "ours", "reference", "ratio"};
    widen(header);
    for (const Row& r : table) widen(r);
    auto print = [&](const Row& r) {
        std::printf("| %-*s | %-*s | %-*s | %-*s |\n", int(widths[0]), r.what.c_str(), int(widths[1]), r.ours.c_str(),
                    int(widths[2]), r.reference.c_str(), int(widths[3]), r.ratio.c_str());
    };
    print(header);
    std::printf("|%s|%s|%s|%s|\n", std::string(widths[0] + 2, '-').c_str(), std::string(widths[1] + 2, '-').c_str(),
                std::string(widths[2] + 2, '-').c_str(), std::string(widths[3] + 2, '-').c_str());
    for (const Row& r : table) print(r);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const auto valueOf = [&](const char* name) {
            return std::strcmp(argv[i], name) == 0 && i + 1 < argc ? std::atoi(argv[++i]) : -1;
        };
        int value = -1;
        if (std::strcmp(argv[i], "--tsv") == 0) options.tabSeparated = true;
        else if (std::strcmp(argv[i], "--containers-only") == 0) options.containersOnly = true;
        else if ((value = valueOf("--record-seconds")) >= 0) options.recordSeconds = value;
        else if ((value = valueOf("--snapshots")) >= 0) options.snapshots = value;
        else if ((value = valueOf("--cycles")) >= 0) options.cycles = value;
        else if ((value = valueOf("--repeats")) >= 0) options.repeats = std::max(1, value);
        else std::fprintf(stderr, "lumora_bench: %s is not an option, left out\n", argv[i]);
    }
    setenv("LUMORA_TEST_SOURCES", "1", 1);
    const fs::path folder = fs::temp_directory_path() / ("lumora-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    appDirectory = folder.string();
    StorePath(settings.photoFolder, folder.string());
    SetSettingsErrorHandler([](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });
    grabberCallback.SetPhotoHandlers([](const std::string& why) { std::fprintf(stderr, "photo: %s\n", why.c_str()); },
                                     [](const std::string&) {});

    // The program's own road: the view converts temp.bmp into temp.jpg.
    grabberCallback.SetJpegConverter(
        [] { return ConvertBitmapFileToJpeg(appDirectory + "/temp.bmp", appDirectory + "/temp.jpg"); });
    if (options.containersOnly) {
        BenchContainers(folder, options.recordSeconds);
    } else {
        BenchSnapshots(folder, options);
        BenchRecording(folder, options, "JPEG image encoder", "MJPEG");
        BenchRecording(folder, options, "x264 H.264 Encoder", "H.264");
        BenchRecording(folder, options, "", "raw", "1920x1080@30/1:I420");
        BenchContainers(folder, options.recordSeconds);
        BenchMemory(folder, options);
        BenchRecordingCycles(folder, options);
        BenchSimulatedCamera(folder);
    }
    if (options.tabSeparated)
        PrintTabSeparated();
    else
        PrintTable();
    fs::remove_all(folder);
    return 0;
}
