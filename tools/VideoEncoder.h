#pragma once

// The video side of democapture: raw RGB frames piped into the `ffmpeg`
// program, which encodes them with the soundtrack cut to the same range.
// The video goes to the target's partial file (platform/OutputFile.h),
// claimed before the first frame is rendered, and replaces the target only
// when the encoder exited well and the file holds every frame sent. Every
// wait on the encoder has a time limit (tools/ChildProcess.h).

#include <chrono>
#include <string>
#include <vector>

#include "platform/OutputFile.h"
#include "tools/ChildProcess.h"

namespace caldera {

struct VideoSettings {
    std::string path;          // the final file, e.g. "out.mp4"
    int width = 0, height = 0; // even
    double fps = 60;
    int crf = 20;              // H.264 quality: lower is better and larger
    std::string preset = "medium";
    std::string music;         // MP3 to cut the sound from; empty: no sound
    double from = 0;           // music time of the first frame
    double duration = 0;       // seconds of sound to take from `from`
};

// The encoder program: $DEMO_FFMPEG when set, else `ffmpeg` on the PATH.
std::string FfmpegProgram();

// Whether the encoder program runs at all (`-version`, within the probe's
// time limit); `error` says why not, starting "cannot start" when it is not
// there.
bool HaveFfmpeg(std::string& error);

class VideoEncoder {
public:
    // Claims the target's partial file; refuses a folder, an unwritable place
    // or a partial file that a live run is writing.
    bool Claim(const std::string& path, std::string& error);
    // Starts the encoder on the claimed file.
    bool Open(const VideoSettings& settings, std::string& error);
    // One frame, rows top-down, 3 bytes a pixel. On failure call Abandon:
    // an encoder that stopped early has not written a whole video.
    bool Write(const std::vector<unsigned char>& rgb, std::string& error);
    // Waits for the encoder, checks the video holds every frame written,
    // then moves it to its final name; on failure nothing is left.
    bool Finish(std::string& error);
    // Kills the encoder and removes the partial file.
    void Abandon();

private:
    VideoSettings settings;
    OutputFile output;
    ChildProcess encoder;
    long framesSent = 0;
};

// Joins videos made from consecutive ranges into `path` without encoding
// again, after checking that every part is a video of the same codec, size
// and rate, with sound in all of them or in none.
bool ConcatVideos(const std::string& path, const std::vector<std::string>& parts, std::string& error);

}  // namespace caldera
