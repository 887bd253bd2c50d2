#pragma once

// The video side of democapture: raw RGB frames piped into the `ffmpeg`
// program, which encodes them with the soundtrack cut to the same range.
// Output goes to a hidden file beside the target and is renamed over it only
// when the encoder finished well, so a failed export never leaves a
// half-written video under the final name.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/OutputFile.h"

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

// True when the encoder program runs at all.
bool HaveFfmpeg();

// A path quoted for the system's shell.
std::string ShellQuote(const std::string& text);


class VideoEncoder {
public:
    ~VideoEncoder();
    // Starts the encoder; false and `error` when it cannot.
    bool Open(const VideoSettings& settings, std::string& error);
    // One frame, rows top-down, 3 bytes a pixel.
    bool Write(const std::vector<unsigned char>& rgb);
    // Waits for the encoder; on success moves the video to its final name.
    bool Finish(std::string& error);

private:
    void Abandon();
    VideoSettings settings;
    std::string partial;
    FILE* pipe = nullptr;
};

// Joins videos made from consecutive ranges into `path` without encoding again.
bool ConcatVideos(const std::string& path, const std::vector<std::string>& parts, std::string& error);
