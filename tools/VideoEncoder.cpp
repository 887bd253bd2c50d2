#include "tools/VideoEncoder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/File.h"

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#endif

namespace {

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

// Runs a shell command with its output discarded; true on exit status 0.
bool RunQuietly(const std::string& command) {
#ifdef _WIN32
    return std::system(("\"" + command + " >NUL 2>&1\"").c_str()) == 0;
#else
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
#endif
}

void RemoveQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(PathFromUtf8(path), ignored);
}

bool MoveOverFinal(const std::string& from, const std::string& to, std::string& error) {
    std::error_code failed;
    std::filesystem::rename(PathFromUtf8(from), PathFromUtf8(to), failed);
    if (!failed) return true;
    RemoveQuietly(from);
    error = "cannot move the video to " + to + ": " + failed.message();
    return false;
}

}  // namespace

std::string FfmpegProgram() {
    const char* program = std::getenv("DEMO_FFMPEG");
    return program && *program ? program : "ffmpeg";
}

// The probe program beside the encoder: "ffprobe" for "ffmpeg", whatever
// folder that is in.
std::string FfprobeProgram() {
    std::string program = FfmpegProgram();
    const size_t at = program.rfind("ffmpeg");
    if (at != std::string::npos) program.replace(at, 6, "ffprobe");
    return program;
}

// The length of a video's picture stream in seconds; negative if unknown.
double VideoSeconds(const std::string& path) {
    FILE* pipe = popen((ShellQuote(FfprobeProgram()) + " -v error -select_streams v:0 -show_entries stream=duration "
                        "-of csv=p=0 " + ShellQuote(path)).c_str(), "r");
    if (!pipe) return -1;
    char text[64] = {};
    const bool read = std::fgets(text, sizeof text, pipe) != nullptr;
    pclose(pipe);
    char* end = nullptr;
    const double seconds = read ? std::strtod(text, &end) : -1;
    return read && end != text && seconds > 0 ? seconds : -1;
}

bool HaveFfmpeg() { return RunQuietly(ShellQuote(FfmpegProgram()) + " -version"); }

std::string ShellQuote(const std::string& text) {
#ifdef _WIN32
    return "\"" + text + "\"";  // names cannot hold '"' on Windows
#else
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
#endif
}

VideoEncoder::~VideoEncoder() { Abandon(); }

void VideoEncoder::Abandon() {
    if (!pipe) return;
    pclose(pipe);
    pipe = nullptr;
    RemoveQuietly(partial);
}

bool VideoEncoder::Open(const VideoSettings& wanted, std::string& error) {
    settings = wanted;
    partial = PartialPath(settings.path);
    std::string command = ShellQuote(FfmpegProgram()) + " -y -loglevel error -nostdin" +
                          " -f rawvideo -pix_fmt rgb24 -s " + std::to_string(settings.width) + "x" +
                          std::to_string(settings.height) + " -framerate " + Number(settings.fps) + " -i -";
    if (!settings.music.empty())
        command += " -ss " + Number(settings.from) + " -t " + Number(settings.duration) + " -i " +
                   ShellQuote(settings.music) + " -map 0:v:0 -map 1:a:0 -c:a aac -b:a 192k";
    command += " -c:v libx264 -preset " + ShellQuote(settings.preset) + " -crf " + std::to_string(settings.crf) +
               " -pix_fmt yuv420p -movflags +faststart " + ShellQuote(partial);
#ifdef _WIN32
    pipe = popen(("\"" + command + "\"").c_str(), "wb");
#else
    pipe = popen(command.c_str(), "w");
#endif
    if (!pipe) {
        error = "cannot start the encoder (" + FfmpegProgram() + ")";
        return false;
    }
    return true;
}

bool VideoEncoder::Write(const std::vector<unsigned char>& rgb) {
    return pipe && std::fwrite(rgb.data(), 1, rgb.size(), pipe) == rgb.size();
}

bool VideoEncoder::Finish(std::string& error) {
    if (!pipe) {
        error = "the encoder is not running";
        return false;
    }
    const int status = pclose(pipe);
    pipe = nullptr;
    if (status != 0) {
        RemoveQuietly(partial);
        error = "the encoder failed (" + FfmpegProgram() + " exit status " + std::to_string(status) + ")";
        return false;
    }
    return MoveOverFinal(partial, settings.path, error);
}

bool ConcatVideos(const std::string& path, const std::vector<std::string>& parts, std::string& error) {
    const std::string partial = PartialPath(path);
    const std::string list = partial + ".txt";
    {
        std::ofstream out(PathFromUtf8(list), std::ios::binary | std::ios::trunc);
        for (const std::string& part : parts) {
            std::error_code failed;
            const std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(part), failed);
            if (failed || !std::filesystem::is_regular_file(absolute, failed)) {
                error = "no video " + part;
                out.close();
                RemoveQuietly(list);
                return false;
            }
            // The list's own quoting: ' ends a quote, \' is a quote mark.
            std::string quoted;
            for (char c : PathToUtf8(absolute)) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
            out << "file '" << quoted << "'\n";
            // The sound runs a little past the last picture (whole AAC
            // frames): the next part starts where this one's pictures end.
            const double seconds = VideoSeconds(PathToUtf8(absolute));
            if (seconds > 0) out << "duration " << Number(seconds) << "\n";
        }
        if (!out) {
            error = "cannot write " + list;
            RemoveQuietly(list);
            return false;
        }
    }
    const bool ok = RunQuietly(ShellQuote(FfmpegProgram()) + " -y -loglevel error -nostdin -f concat -safe 0 -i " +
                               ShellQuote(list) + " -c copy -movflags +faststart " + ShellQuote(partial));
    RemoveQuietly(list);
    if (!ok) {
        RemoveQuietly(partial);
        error = "the encoder could not join the videos";
        return false;
    }
    return MoveOverFinal(partial, path, error);
}
