#include "tools/VideoEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "platform/File.h"

namespace caldera {

namespace {

using Duration = ChildProcess::Duration;

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

// $DEMO_ENCODER_TIMEOUT seconds bounds every wait on the encoder; else
// `fallback`.
Duration Limit(Duration fallback) {
    const char* text = std::getenv("DEMO_ENCODER_TIMEOUT");
    char* end = nullptr;
    const double seconds = text ? std::strtod(text, &end) : 0;
    if (!text || end == text || !(seconds > 0) || seconds > 86400) return fallback;
    return Duration(static_cast<long long>(seconds * 1000));
}
// A frame is taken in well under a second; an encoder that takes none for a
// minute is hung. Its last frames and the file's final pass may take minutes
// at large sizes and slow presets.
Duration WriteLimit() { return Limit(std::chrono::seconds(60)); }
Duration ProbeLimit() { return Limit(std::chrono::seconds(60)); }
Duration FinishLimit() { return Limit(std::chrono::minutes(10)); }

// A name for the encoder's command line that it never reads as an option
// or a protocol ("-x.mp4", "a:b.mp4").
std::string FileArgument(const std::string& path) { return "file:" + path; }

// The probe program beside the encoder: "ffprobe" for "ffmpeg", whatever
// folder that is in.
std::string FfprobeProgram() {
    std::string program = FfmpegProgram();
    const size_t at = program.rfind("ffmpeg");
    if (at != std::string::npos) program.replace(at, 6, "ffprobe");
    return program;
}

struct VideoInfo {
    std::string format;
    bool video = false, audio = false;
    std::string codec, audioCodec, rate;
    int width = 0, height = 0;
    double seconds = -1;  // the picture's length
    long packets = -1;    // the picture's packets (frames)
};

// What ffprobe says of a file; false with `error` when it is no media file.
bool Probe(const std::string& path, VideoInfo& info, std::string& error) {
    std::string text;
    if (!RunProgram({FfprobeProgram(), "-v", "error", "-count_packets", "-show_entries",
                     "format=format_name:stream=codec_type,codec_name,width,height,r_frame_rate,duration,"
                     "nb_read_packets",
                     "-of", "flat", FileArgument(path)},
                    ProbeLimit(), text, error))
        return false;
    // Lines of `streams.stream.N.key=value` and `format.key=value`, strings quoted.
    std::map<std::string, std::map<std::string, std::string>> streams;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (key == "format.format_name") {
            info.format = value;
        } else if (key.rfind("streams.stream.", 0) == 0) {
            const size_t dot = key.find('.', 15);
            if (dot != std::string::npos) streams[key.substr(15, dot - 15)][key.substr(dot + 1)] = value;
        }
    }
    for (auto& [index, stream] : streams) {
        if (stream["codec_type"] == "video" && !info.video) {
            info.video = true;
            info.codec = stream["codec_name"];
            info.width = std::atoi(stream["width"].c_str());
            info.height = std::atoi(stream["height"].c_str());
            info.rate = stream["r_frame_rate"];
            info.seconds = std::atof(stream["duration"].c_str());
            info.packets = std::atol(stream["nb_read_packets"].c_str());
        } else if (stream["codec_type"] == "audio" && !info.audio) {
            info.audio = true;
            info.audioCodec = stream["codec_name"];
        }
    }
    return true;
}

}  // namespace

std::string FfmpegProgram() {
    const char* program = std::getenv("DEMO_FFMPEG");
    return program && *program ? program : "ffmpeg";
}

bool HaveFfmpeg(std::string& error) {
    std::string ignored;
    return RunProgram({FfmpegProgram(), "-version"}, ProbeLimit(), ignored, error);
}

bool VideoEncoder::Claim(const std::string& path, std::string& error) {
    return output.Open(path, error, true);
}

bool VideoEncoder::Open(const VideoSettings& wanted, std::string& error) {
    settings = wanted;
    framesSent = 0;
    std::vector<std::string> args{FfmpegProgram(), "-y", "-loglevel", "error", "-nostdin", "-f", "rawvideo",
                                  "-pix_fmt", "rgb24", "-s",
                                  std::to_string(settings.width) + "x" + std::to_string(settings.height),
                                  "-framerate", Number(settings.fps), "-i", "-"};
    if (!settings.music.empty())
        args.insert(args.end(), {"-ss", Number(settings.from), "-t", Number(settings.duration), "-i",
                                 FileArgument(settings.music), "-map", "0:v:0", "-map", "1:a:0", "-c:a", "aac", "-b:a",
                                 "192k"});
    args.insert(args.end(), {"-c:v", "libx264", "-preset", settings.preset, "-crf", std::to_string(settings.crf),
                             "-pix_fmt", "yuv420p", "-movflags", "+faststart", FileArgument(output.Partial())});
    if (!output.IsOpen()) {
        error = "no file claimed for the video";
        return false;
    }
    if (!encoder.Start(args, true, false, false, error)) {
        error = "cannot start the encoder: " + error;
        return false;
    }
    return true;
}

bool VideoEncoder::Write(const std::vector<unsigned char>& rgb, std::string& error) {
    if (!encoder.Write(rgb.data(), rgb.size(), WriteLimit(), error)) return false;
    ++framesSent;
    return true;
}

void VideoEncoder::Abandon() {
    encoder.Kill();
    output.Abandon();
}

bool VideoEncoder::Finish(std::string& error) {
    if (!encoder.Wait(FinishLimit(), error)) {
        error = "the encoder (" + FfmpegProgram() + ") " + error;
        Abandon();
        return false;
    }
    if (!encoder.Succeeded()) {
        error = "the encoder failed (" + FfmpegProgram() + " " + encoder.Status() + ")";
        Abandon();
        return false;
    }
    // An encoder can end well and still have stopped short (a time limit of
    // its own, a frame count): the file must hold every frame sent.
    VideoInfo info;
    std::string probeError;
    if (!Probe(output.Partial(), info, probeError)) {
        error = "cannot read back the encoded video: " + probeError;
        Abandon();
        return false;
    }
    if (!info.video || info.packets != framesSent) {
        error = "the encoder wrote " + std::to_string(std::max(info.packets, 0L)) + " of the " +
                std::to_string(framesSent) + " frames sent";
        Abandon();
        return false;
    }
    return output.Commit(error);
}

namespace {

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code failed;
    if (std::filesystem::equivalent(a, b, failed)) return true;
    const auto canonicalA = std::filesystem::weakly_canonical(a, failed);
    if (failed) return false;
    const auto canonicalB = std::filesystem::weakly_canonical(b, failed);
    return !failed && canonicalA == canonicalB;
}

// Every part a video like the first; false with `error` naming the first
// that is not.
bool CheckParts(const std::string& path, const std::vector<std::string>& parts, std::vector<VideoInfo>& infos,
                std::string& error) {
    for (const std::string& part : parts) {
        if (SameFile(PathFromUtf8(part), PathFromUtf8(path)) ||
            SameFile(PathFromUtf8(part), PathFromUtf8(PartialPath(path)))) {
            error = part + " is the output (or its partial file): choose another output name";
            return false;
        }
        std::error_code failed;
        if (!std::filesystem::is_regular_file(PathFromUtf8(part), failed)) {
            error = "no video " + part;
            return false;
        }
        VideoInfo info;
        std::string why;
        if (!Probe(part, info, why)) {
            error = part + " is not a video" + (why.empty() ? "" : " (" + why + ")");
            return false;
        }
        // MP4 from this tool: an image, a sound file or another container
        // would join as something else.
        if (info.format.find("mp4") == std::string::npos || !info.video || info.packets <= 0) {
            error = part + " is not an MP4 video" + (info.format.empty() ? "" : " (" + info.format + ")");
            return false;
        }
        if (!infos.empty()) {
            const VideoInfo& first = infos.front();
            auto describe = [](const VideoInfo& v) {
                return v.codec + " " + std::to_string(v.width) + "x" + std::to_string(v.height) + " at " + v.rate +
                       " fps" + (v.audio ? " with " + v.audioCodec + " sound" : " without sound");
            };
            if (info.codec != first.codec || info.width != first.width || info.height != first.height ||
                info.rate != first.rate || info.audio != first.audio || info.audioCodec != first.audioCodec) {
                error = part + " (" + describe(info) + ") does not match " + parts.front() + " (" + describe(first) +
                        ")";
                return false;
            }
        }
        infos.push_back(info);
    }
    return true;
}

}  // namespace

bool ConcatVideos(const std::string& path, const std::vector<std::string>& parts, std::string& error) {
    std::vector<VideoInfo> infos;
    if (!CheckParts(path, parts, infos, error)) return false;
    OutputFile output;
    if (!output.Open(path, error, true)) return false;

    // The concat list, in a temporary file beside the output.
    std::string list;
    std::FILE* file = CreateTemporaryFile(output.Partial(), list, error);
    if (!file) return false;
    std::string text;
    long packets = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::error_code failed;
        const std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(parts[i]), failed);
        // The list's own quoting: ' ends a quote, \' is a quote mark.
        std::string quoted;
        for (char c : PathToUtf8(absolute)) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        text += "file '" + quoted + "'\n";
        // The sound runs a little past the last picture (whole AAC frames):
        // the next part starts where this one's pictures end.
        if (infos[i].seconds > 0) text += "duration " + Number(infos[i].seconds) + "\n";
        packets += infos[i].packets;
    }
    const bool listWritten = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !listWritten) {
        error = "cannot write " + list;
        RemoveFile(list);
        return false;
    }
    std::string ignored;
    const bool joined = RunProgram({FfmpegProgram(), "-y", "-loglevel", "error", "-nostdin", "-f", "concat", "-safe",
                                    "0", "-i", FileArgument(list), "-c", "copy", "-movflags", "+faststart",
                                    FileArgument(output.Partial())},
                                   FinishLimit(), ignored, error);
    RemoveFile(list);
    if (!joined) {
        error = "the encoder could not join the videos: " + error;
        return false;
    }
    VideoInfo info;
    if (!Probe(output.Partial(), info, error) || info.packets != packets) {
        error = "the joined video holds " + std::to_string(std::max(info.packets, 0L)) + " of the " +
                std::to_string(packets) + " frames of its parts";
        return false;
    }
    return output.Commit(error);
}

}  // namespace caldera
