// democapture: renders a production through the player's own frame path,
// with the music and frame clocks driven here, to PNG stills, PNG frame
// sequences or a video with its soundtrack.
//
//   democapture [--at SECONDS]... [--size WxH] [--out DIR] [--profile N]
//   democapture --video OUT.mp4 [--frames DIR] [--from A] [--to B] [--fps N] ...
//   democapture --concat OUT.mp4 PART.mp4...
//
// Run in a production folder (one holding data/timeline.xml, loose or in
// data.pack). One simulation clock serves every output: the scene advances
// from time 0 on a fixed grid of steps (1/60 s, or --sim-rate), without
// drawing, and a frame at music time T draws the grid's state at T. So a
// still at T, the frame at T of a sequence and the frame at T of any video
// segment are the same pixels.

#include "platform/Gl.h"
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/ImageFile.h"
#include "platform/Music.h"
#include "platform/QuitSignal.h"
#include "platform/Window.h"
#include "platform/Version.h"
#include "playback/FrameDriver.h"
#include "playback/Show.h"
#include "playback/SteppedSimulation.h"
#include "render/RenderFrame.h"
#include "playback/Production.h"
#include "playback/FrameClock.h"
#include "render/PassProfiler.h"
#include "render/Renderer.h"
#include "resources/ResourceManager.h"
#include "scene/Scene.h"
#include "tools/VideoEncoder.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

using namespace caldera;

namespace {

struct Options {
    std::vector<double> times;
    int width = 1280;
    int height = 720;
    std::string outFolder = ".";
    int profileFrames = 0;
    double simRate = 60;
    // A frame sequence: a video, PNG frames, or both.
    std::string video;
    std::string framesFolder;
    double from = 0;
    double to = -1;  // negative: the end of the music
    double fps = 60;
    int crf = 20;
    std::string preset = "medium";
    // Joining videos.
    std::string concatOut;
    std::vector<std::string> concatParts;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "democapture: %s\n", message.c_str());
    return 2;
}

// The first shader program that failed to build, with the driver's log: a
// picture drawn without it is not the production's, at start or after a
// reload during a long run, so the run fails.
std::string shaderFailure;

void NoteShaderFailure(const ShaderProgram& program) {
    if (shaderFailure.empty())
        shaderFailure = "shader program '" + program.name + "' failed to build: " + program.failure;
}

// The end of a run that a quit signal stopped: what was half written is
// gone, the previous outputs are as they were; a shell's status for it.
int Quit() {
    const int signal = QuitSignalNumber();
    std::fprintf(stderr, "democapture: stopped by %s\n", QuitSignalName(signal));
    return 128 + signal;
}

void Usage(FILE* to) {
    std::fprintf(to,
                 "usage: democapture --at SECONDS [--at ...] [--size WxH] [--out DIR] [--profile N]\n"
                 "       democapture (--video OUT.mp4 | --frames DIR) [--from A] [--to B] [--fps N]\n"
                 "                   [--size WxH] [--crf Q] [--preset NAME] [--sim-rate N]\n"
                 "       democapture --concat OUT.mp4 PART.mp4...\n"
                 "       democapture --help | --version\n"
                 "Renders the production in the current folder.\n"
                 "  --at SECONDS    a still at that music time, DIR/capture-SECONDS.png (repeatable)\n"
                 "  --out DIR       where stills go (default: the current folder)\n"
                 "  --profile N     renders N more frames at each still and prints the GPU and CPU time of each pass\n"
                 "  --video OUT     every frame from A to B, encoded by ffmpeg with the soundtrack\n"
                 "                  (H.264 + AAC in MP4); replaces OUT only with every frame in it\n"
                 "  --frames DIR    every frame from A to B as DIR/frame-NNNNNN.png, numbered from time 0\n"
                 "  --from A, --to B  the music range in seconds (default: the whole music); frames lie\n"
                 "                  on one grid from time 0, so ranges render alone and join seamlessly\n"
                 "  --fps N         frames per second (default 60)\n"
                 "  --size WxH      picture size (default 1280x720; even for video)\n"
                 "  --crf Q         video quality, 0 (lossless) to 51 (default 20)\n"
                 "  --preset NAME   encoder speed, ultrafast to veryslow (default medium)\n"
                 "  --sim-rate N    simulation steps per second (default 60)\n"
                 "  --concat OUT PART...  joins videos of consecutive ranges without encoding again; the\n"
                 "                  parts must be MP4 videos of one codec, size and rate, with sound in all or none\n"
                 "Every file is written whole or not at all. A failure exits with status 2; SIGINT, SIGTERM\n"
                 "and SIGHUP stop the run with 128 + the signal and leave the previous files as they were.\n"
                 "Environment: DEMO_FFMPEG names the encoder (default ffmpeg, with ffprobe beside it);\n"
                 "DEMO_ENCODER_TIMEOUT=S kills an encoder that takes no frame or does not finish within S\n"
                 "seconds (default 60 s a frame, 10 minutes to finish).\n");
}

// "WIDTHxHEIGHT", each a whole number from 6 to 8192.
bool ParseSize(const char* text, int& width, int& height) {
    auto whole = [&](int& value) {
        long n = 0;
        const char* start = text;
        while (*text >= '0' && *text <= '9' && n <= 8192) n = n * 10 + (*text++ - '0');
        value = static_cast<int>(n);
        return text != start && n >= 6 && n <= 8192;
    };
    if (!text || !whole(width) || *text++ != 'x') return false;
    return whole(height) && *text == '\0';
}

bool ParseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

std::string CaptureName(const std::string& folder, double t) {
    char name[64];
    std::snprintf(name, sizeof(name), "capture-%09.3f.png", t);
    return PathToUtf8(PathFromUtf8(folder) / name);
}

std::string Seconds(double t) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", t);
    return text;
}

// Returns an empty string on success, else what was wrong.
std::string ParseArguments(int argc, char** argv, Options& options, bool& help, bool& version) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else if (arg == "--at") {
            const char* text = value();
            double t = 0;
            if (!text || !ParseNumber(text, t) || t < 0 || t > 24 * 3600)
                return "--at takes a music time in seconds, from 0";
            options.times.push_back(t);
        } else if (arg == "--size") {
            const char* text = value();
            int w = 0, h = 0;
            if (!ParseSize(text, w, h)) return "--size takes WIDTHxHEIGHT, each from 6 to 8192";
            options.width = w;
            options.height = h;
        } else if (arg == "--out") {
            const char* text = value();
            if (!text || !*text) return "--out takes a folder";
            options.outFolder = text;
        } else if (arg == "--profile") {
            const char* text = value();
            double n = 0;
            if (!text || !ParseNumber(text, n) || n < 1 || n > 100000 || n != std::floor(n))
                return "--profile takes a number of frames, from 1";
            options.profileFrames = static_cast<int>(n);
        } else if (arg == "--video" || arg == "--frames") {
            const char* text = value();
            if (!text || !*text) return arg + " takes a " + (arg == "--video" ? "file" : "folder");
            (arg == "--video" ? options.video : options.framesFolder) = text;
        } else if (arg == "--from" || arg == "--to") {
            const char* text = value();
            double t = 0;
            if (!text || !ParseNumber(text, t) || t < 0 || t > 24 * 3600)
                return arg + " takes a music time in seconds, from 0";
            (arg == "--from" ? options.from : options.to) = t;
        } else if (arg == "--fps" || arg == "--sim-rate") {
            const char* text = value();
            double n = 0;
            if (!text || !ParseNumber(text, n) || !(n > 0) || n > 1000)
                return arg + " takes a rate per second, above 0 and at most 1000";
            (arg == "--fps" ? options.fps : options.simRate) = n;
        } else if (arg == "--crf") {
            const char* text = value();
            double n = 0;
            if (!text || !ParseNumber(text, n) || n < 0 || n > 51 || n != std::floor(n))
                return "--crf takes a whole number from 0 to 51";
            options.crf = static_cast<int>(n);
        } else if (arg == "--preset") {
            static const char* const kPresets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                                   "medium",    "slow",      "slower",   "veryslow"};
            const char* text = value();
            if (!text || std::none_of(std::begin(kPresets), std::end(kPresets),
                                      [&](const char* p) { return std::strcmp(p, text) == 0; }))
                return "--preset takes one of ultrafast, superfast, veryfast, faster, fast, medium, slow, "
                       "slower, veryslow";
            options.preset = text;
        } else if (arg == "--concat") {
            const char* text = value();
            if (!text || !*text) return "--concat takes the output file and then the videos to join";
            options.concatOut = text;
            while (i + 1 < argc) options.concatParts.push_back(argv[++i]);
            if (options.concatParts.empty()) return "--concat needs at least one video to join";
        } else {
            return "unknown argument '" + arg + "'";
        }
    }
    if (help) return "";
    const bool sequence = !options.video.empty() || !options.framesFolder.empty();
    if (!options.concatOut.empty()) {
        if (sequence || !options.times.empty()) return "--concat joins videos and renders nothing else";
        return "";
    }
    if (sequence && !options.times.empty()) return "choose stills (--at) or a sequence (--video, --frames), not both";
    if (!sequence && options.times.empty())
        return "nothing to render: give --at SECONDS, --video OUT.mp4 or --frames DIR";
    if (sequence && options.to >= 0 && !(options.from < options.to)) return "--from must come before --to";
    if (!options.video.empty() && (options.width % 2 || options.height % 2))
        return "a video needs an even width and height";
    if (sequence && options.profileFrames > 0) return "--profile goes with stills (--at)";
    // One file a time: a time given twice is drawn once, and two times
    // that name the same file are refused rather than overwrite each other.
    std::sort(options.times.begin(), options.times.end());
    options.times.erase(std::unique(options.times.begin(), options.times.end()), options.times.end());
    for (size_t i = 1; i < options.times.size(); ++i)
        if (CaptureName(".", options.times[i]) == CaptureName(".", options.times[i - 1]))
            return "--at " + Seconds(options.times[i - 1]) + " and --at " + Seconds(options.times[i]) +
                   " both make " + PathToUtf8(PathFromUtf8(CaptureName(".", options.times[i])).filename()) +
                   ": give times at least a millisecond apart";
    return "";
}

bool HoldsProduction() {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_regular_file("data/timeline.xml", error)) return true;
    return ResourceManager::Instance().IsInPack("data/timeline.xml");
}

// The picture just drawn, rows top-down, `channels` bytes a pixel.
void ReadPicture(int width, int height, int channels, std::vector<unsigned char>& rows) {
    const size_t stride = static_cast<size_t>(width) * channels;
    std::vector<unsigned char> pixels(stride * height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    // GL rows run bottom-up.
    rows.resize(pixels.size());
    for (int y = 0; y < height; ++y)
        std::memcpy(rows.data() + static_cast<size_t>(y) * stride,
                    pixels.data() + static_cast<size_t>(height - 1 - y) * stride, stride);
}

// The picture just drawn as a PNG file, whole or not at all.
bool WritePng(const std::string& path, int width, int height, std::string& error) {
    std::vector<unsigned char> rows;
    ReadPicture(width, height, 4, rows);
    // The window's alpha means nothing: store the picture opaque.
    for (size_t i = 3; i < rows.size(); i += 4) rows[i] = 255;
    return WritePngFile(path, width, height, 4, rows.data(), width * 4, error);
}


std::string FrameName(const std::string& folder, long index) {
    char name[64];
    std::snprintf(name, sizeof(name), "frame-%06ld.png", index);
    return PathToUtf8(PathFromUtf8(folder) / name);
}

bool MakeFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(PathFromUtf8(folder), error);
    return std::filesystem::is_directory(PathFromUtf8(folder), error);
}

std::string Clock(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// "frame 120/900  23.5 fps  0:33 left" on stderr: rewritten in place on a
// terminal, a line every tenth of the way otherwise.
class Progress {
public:
    explicit Progress(long total)
        : total(total), terminal(isatty(fileno(stderr)) != 0), start(std::chrono::steady_clock::now()) {}

    void Frame(long done) {
        const auto now = std::chrono::steady_clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const bool last = done == total;
        if (terminal) {
            if (!last && now - shown < std::chrono::milliseconds(100)) return;
        } else if (!last && done * 10 / total == reported * 10 / total) {
            return;
        }
        shown = now;
        reported = done;
        const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
        const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
        std::fprintf(stderr, "%sframe %ld/%ld  %.1f fps  %s left%s", terminal ? "\r" : "", done, total, rate,
                     Clock(left).c_str(), terminal ? "   " : "\n");
        if (terminal && last) std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    long total;
    long reported = 0;
    bool terminal;
    std::chrono::steady_clock::time_point start, shown{};
};

int Stills(const Options& options, SteppedSimulation& simulation, Window& window) {
    Renderer& renderer = Renderer::Instance();
    int written = 0;
    for (double t : options.times) {
        simulation.AdvanceTo(t);
        if (QuitSignalled()) return Quit();
        RenderStill(simulation, t, &window);
        if (!shaderFailure.empty()) return Fail(shaderFailure);
        std::string path = CaptureName(options.outFolder, t);
        std::string error;
        if (!WritePng(path, renderer.screenWidth, renderer.screenHeight, error)) return Fail(error);
        std::printf("wrote %s\n", path.c_str());
        ++written;
        window.Swap();

        if (options.profileFrames > 0) {
            PassProfiler profiler;
            renderer.profiler = &profiler;
            for (int i = 0; i < options.profileFrames && !QuitSignalled(); ++i) {
                RenderStill(simulation, t, &window);
                window.Swap();
            }
            renderer.profiler = nullptr;
            if (QuitSignalled()) return Quit();
            std::printf("Time at %.3f s, mean of %d frames at %dx%d:\n", t, options.profileFrames,
                        renderer.screenWidth, renderer.screenHeight);
            std::printf("  %-24s %12s %12s\n", "pass", "GPU", "CPU");
            auto row = [](const char* name, const PassProfiler::Pass& pass) {
                const double frames = pass.frames ? pass.frames : 1;
                if (PassProfiler::kMeasuresGpu)
                    std::printf("  %-24s %9.3f ms %9.3f ms\n", name, pass.totalMs / frames, pass.cpuTotalMs / frames);
                else  // OpenGL ES has no GPU timestamps
                    std::printf("  %-24s %12s %9.3f ms\n", name, "-", pass.cpuTotalMs / frames);
            };
            for (const PassProfiler::Pass& pass : profiler.passes) row(pass.name.c_str(), pass);
            row("whole frame", profiler.frame);
        }
    }
    std::fflush(stdout);
    if (QuitSignalled()) return Quit();
    return written == static_cast<int>(options.times.size()) ? 0 : 1;
}

// Frames j/fps for j from ceil(from x fps) up to, not including, ceil(to x
// fps): numbered from time 0, so consecutive ranges share no frame and miss
// none.
int Sequence(const Options& options, double to, const std::string& music, VideoEncoder& encoder,
             SteppedSimulation& simulation, Window& window) {
    Renderer& renderer = Renderer::Instance();
    const long first = static_cast<long>(std::ceil(options.from * options.fps - 1e-6));
    const long end = static_cast<long>(std::ceil(to * options.fps - 1e-6));

    if (!options.video.empty()) {
        VideoSettings settings;
        settings.path = options.video;
        settings.width = renderer.screenWidth;
        settings.height = renderer.screenHeight;
        settings.fps = options.fps;
        settings.crf = options.crf;
        settings.preset = options.preset;
        settings.music = music;
        settings.from = static_cast<double>(first) / options.fps;
        settings.duration = static_cast<double>(end - first) / options.fps;
        std::string error;
        if (!encoder.Open(settings, error)) return Fail(error);
    }
    // Every way out below abandons the video unless it was finished.
    struct AbandonUnlessFinished {
        VideoEncoder& encoder;
        ~AbandonUnlessFinished() { encoder.Abandon(); }
    } abandon{encoder};
    Progress progress(end - first);
    std::vector<unsigned char> rgb;
    for (long j = first; j < end; ++j) {
        const double t = static_cast<double>(j) / options.fps;
        simulation.AdvanceTo(t);
        if (QuitSignalled()) return Quit();
        RenderStill(simulation, t, &window);
        if (!shaderFailure.empty()) return Fail(shaderFailure);
        std::string error;
        if (!options.framesFolder.empty()) {
            const std::string path = FrameName(options.framesFolder, j);
            if (!WritePng(path, renderer.screenWidth, renderer.screenHeight, error)) return Fail(error);
        }
        if (!options.video.empty()) {
            ReadPicture(renderer.screenWidth, renderer.screenHeight, 3, rgb);
            if (!encoder.Write(rgb, error)) {
                if (QuitSignalled()) return Quit();
                return Fail("the encoder (" + FfmpegProgram() + ") stopped taking frames: " + error);
            }
        }
        window.Swap();
        progress.Frame(j - first + 1);
    }
    if (!options.video.empty()) {
        std::string error;
        if (!encoder.Finish(error)) return QuitSignalled() ? Quit() : Fail(error);
        std::printf("wrote %s (%ld frames)\n", options.video.c_str(), end - first);
    }
    if (!options.framesFolder.empty())
        std::printf("wrote %ld frames to %s\n", end - first, options.framesFolder.c_str());
    return 0;
}

// Whether the encoder runs; says why not on stderr.
bool CheckEncoder(const std::string& otherwise) {
    std::string error;
    if (HaveFfmpeg(error)) return true;
    if (QuitSignalled()) return false;
    if (error.rfind("cannot start", 0) == 0)
        Fail("the encoder (" + FfmpegProgram() + ") is not installed; Debian: apt-get install ffmpeg" + otherwise);
    else
        Fail("the encoder (" + FfmpegProgram() + ") does not run: -version: " + error);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // First of all: from here on a quit signal is a request that the work
    // loops see, not the end of the process with a half-written file.
    CatchQuitSignals();
    Options options;
    bool help = false;
    bool version = false;
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (std::string& arg : args) utf8Argv.push_back(arg.data());
    std::string error = ParseArguments(static_cast<int>(utf8Argv.size()), utf8Argv.data(), options, help, version);
    if (help) {
        Usage(stdout);
        return 0;
    }
    if (version) {
        std::printf("democapture %s\n", DEMO_VERSION);
        return 0;
    }
    if (!error.empty()) {
        Usage(stderr);
        return Fail(error);
    }
#ifndef _WIN32
    // A dead encoder must read as a failed write, not end this process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (!options.concatOut.empty()) {
        if (!CheckEncoder("")) return QuitSignalled() ? Quit() : 2;
        if (!ConcatVideos(options.concatOut, options.concatParts, error)) return QuitSignalled() ? Quit() : Fail(error);
        std::printf("wrote %s\n", options.concatOut.c_str());
        return 0;
    }
    if (!HoldsProduction()) return Fail("no production in this folder (no data/timeline.xml, loose or in data.pack)");

    // Everything that can be wrong is checked before the first frame.
    const bool sequence = options.times.empty();
    VideoEncoder encoder;
    std::string musicFile;
    double to = options.to;
    if (sequence) {
        std::error_code ignored;
        const double length =
            std::filesystem::is_regular_file("music.mp3", ignored) ? MusicLengthSeconds("music.mp3") : -1.0;
        if (length > 0) {
            musicFile = "music.mp3";
            if (to < 0) to = length;
            if (options.from >= length || to > length + 1e-3)
                return Fail("the range " + std::to_string(options.from) + " to " + std::to_string(to) +
                            " s lies outside the music (" + std::to_string(length) + " s)");
        } else if (to < 0) {
            return Fail("there is no playable music.mp3 to take the length from: give --to");
        }
        if (!(options.from < to)) return Fail("--from must come before --to");
        if (std::ceil(to * options.fps - 1e-6) <= std::ceil(options.from * options.fps - 1e-6))
            return Fail("the range holds no frame at this --fps");
        if (!options.video.empty()) {
            if (!CheckEncoder(" (or export PNG frames with --frames DIR)")) return QuitSignalled() ? Quit() : 2;
            if (!encoder.Claim(options.video, error))
                return Fail("cannot write the video " + options.video + ": " + error);
            if (musicFile.empty()) std::fprintf(stderr, "democapture: no music.mp3: the video has no sound\n");
        }
        if (!options.framesFolder.empty() && !MakeFolder(options.framesFolder))
            return Fail("cannot write to the folder '" + options.framesFolder + "'");
    } else {
        if (!MakeFolder(options.outFolder)) return Fail("cannot write to the folder '" + options.outFolder + "'");
    }
    if (QuitSignalled()) return Quit();

    Window window;
    WindowConfig config;
    config.width = options.width;
    config.height = options.height;
    config.title = "democapture";
    if (!window.Create(config, error)) return Fail(error);
    // Rendering never waits for the display here.
    Renderer& renderer = Renderer::Instance();
    renderer.SetScreenSize(window.drawableWidth, window.drawableHeight);
    ShaderProgram::onFailure = NoteShaderFailure;
    renderer.Init();
    if (!shaderFailure.empty()) {
        encoder.Abandon();
        window.Destroy();
        return Fail(shaderFailure);
    }

    SteppedMusicClock music;
    FixedStepClock frames;

    // Everything loads now, in the order of the player's first content poll;
    // the poll ends by starting playback.
    ResourceManager& resources = ResourceManager::Instance();
    ConnectProduction(resources, {&music, &frames});
    resources.ready = true;
    resources.Update();
    Show::Instance().playing = true;
    if (QuitSignalled()) return Quit();


    SteppedSimulation simulation(music, frames, options.simRate);
    const int status = sequence ? Sequence(options, to, musicFile, encoder, simulation, window) : Stills(options, simulation, window);
    window.Destroy();
    return status;
}
