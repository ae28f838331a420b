// Recordings into Matroska and MP4, chosen by the file's name: each holds
// pictures and sound as long as the take, and a combination the container
// cannot hold is refused at Record before anything is written.

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "tests/engine/GstSessionFixture.h"

namespace {

using namespace gst_session;

// Each stream of `file` as ffprobe reads its packets: its kind ("video",
// "audio") and the span from its first packet to the end of its last.
std::map<std::string, double> StreamSeconds(const fs::path& file) {
    const std::string command = "ffprobe -v error -show_entries stream=index,codec_type:packet=stream_index,pts_time,"
                                "duration_time -of compact=p=0:nk=0 '" + file.string() + "' 2>/dev/null";
    std::map<std::string, double> seconds;
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) return seconds;
    std::map<int, std::string> kinds;
    std::map<int, std::pair<double, double>> spans;  // first start, last end
    char line[512];
    while (std::fgets(line, sizeof line, out)) {
        std::map<std::string, std::string> fields;
        std::stringstream entries(std::string(line).substr(0, std::strcspn(line, "\n")));
        for (std::string entry; std::getline(entries, entry, '|');) {
            const auto equals = entry.find('=');
            if (equals != std::string::npos) fields[entry.substr(0, equals)] = entry.substr(equals + 1);
        }
        if (fields.count("codec_type")) {
            kinds[std::stoi(fields["index"])] = fields["codec_type"];
        } else if (fields.count("stream_index") && fields["pts_time"] != "N/A") {
            const double start = std::stod(fields["pts_time"]);
            const double length = fields["duration_time"] == "N/A" ? 0 : std::stod(fields["duration_time"]);
            auto [span, added] = spans.try_emplace(std::stoi(fields["stream_index"]), start, start + length);
            span->second.first = std::min(span->second.first, start);
            span->second.second = std::max(span->second.second, start + length);
        }
    }
    ::pclose(out);
    for (const auto& [index, span] : spans) seconds[kinds[index]] = span.second - span.first;
    return seconds;
}

}  // namespace

TEST_F(GstSession, ATakeInMatroskaOrMp4HoldsPicturesAndSoundOfItsLength) {
    // Raw pictures and sound in Matroska; H.264 and MP3, which MP4 holds.
    const std::vector<std::array<std::string, 3>> takes = {
        {"capture.mkv", "", ""}, {"capture.mp4", "x264 H.264 Encoder", "L.A.M.E. mp3 encoder"}};
    for (const auto& [name, videoCompressor, audioCompressor] : takes) {
        SCOPED_TRACE(name);
        StorePath(settings.videoFilePath, (folder / name).string());
        ASSERT_EQ(Build(videoCompressor, audioCompressor), S_OK);
        ASSERT_TRUE(session.StartRecording()) << (messages.empty() ? "" : messages.front());
        ASSERT_TRUE(RecordedFor(3));
        session.Stop();
        const double recorded = lumora::gst::LatestRecordingSeconds();
        EXPECT_TRUE(messages.empty()) << messages.front();
        const std::map<std::string, double> streams = StreamSeconds(folder / name);
        ASSERT_EQ(streams.size(), 2u);
        ASSERT_TRUE(streams.count("video") && streams.count("audio"));
        EXPECT_NEAR(streams.at("video"), recorded, 0.5);
        EXPECT_NEAR(streams.at("audio"), streams.at("video"), 0.3);
        session.TearDown();
    }
}

TEST_F(GstSession, RawPicturesInMp4AreRefusedAtRecordAndNothingIsWritten) {
    const fs::path file = folder / "capture.mp4";
    StorePath(settings.videoFilePath, file.string());
    int notes = 0;
    session.SetRecordingJournal([&](const std::string&, bool) { ++notes; });
    ASSERT_EQ(Build("", "L.A.M.E. mp3 encoder"), S_OK);
    EXPECT_FALSE(session.StartRecording());
    ASSERT_EQ(messages.size(), 1u);
    // It names what MP4 cannot hold and what to choose instead.
    const std::string& said = messages[0];
    EXPECT_EQ(said.rfind("无法录制到“" + file.string() + "”：MP4 文件不能保存不压缩的画面。请在“视频设备”中选择视频压缩器", 0),
              0u) << said;
    EXPECT_NE(said.find("“x264 H.264 Encoder”"), std::string::npos) << said;
    EXPECT_NE(said.find("，或者在“选项”中把录相文件改为 .avi 或 .mkv 文件。"), std::string::npos) << said;
    EXPECT_FALSE(session.RecordingActive());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(notes, 0);
    EXPECT_TRUE(WaitForFrames(owner.Frames() + 5));  // the preview goes on
}
