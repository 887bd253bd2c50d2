#include "app/AuthorChecks.h"

#include <chrono>
#include <cstdio>
#include <string_view>
#include <vector>

#include "lint/ProductionLint.h"
#include "platform/File.h"
#include "platform/Log.h"
#include "platform/Printable.h"
#include "render/ShaderProgram.h"

namespace caldera {

namespace fs = std::filesystem;

namespace {

// Content files by their path relative to the production, as the checker
// names them, with their last-write times.
std::map<std::string, fs::file_time_type> Stamps() {
    std::map<std::string, fs::file_time_type> stamps;
    std::error_code error;
    for (fs::recursive_directory_iterator it("data", error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        stamps[GenericPathToUtf8(it->path())] = it->last_write_time(error);
    }
    if (fs::exists("data.pack", error)) stamps["data.pack"] = fs::last_write_time("data.pack", error);
    if (fs::exists("music.mp3", error)) stamps["music.mp3"] = fs::last_write_time("music.mp3", error);
    return stamps;
}

// A program that fails to build says why once, with the driver's log by
// file, whatever the log level: the checker does not compile shaders, the
// driver does.
void PrintShaderFailure(const ShaderProgram& program) {
    // The log quotes the source, which anyone can write.
    std::string text;
    size_t start = 0;
    for (size_t end; (end = program.failure.find('\n', start)) != std::string::npos; start = end + 1)
        text += Printable(std::string_view(program.failure).substr(start, end - start)) + "\n";
    text += Printable(std::string_view(program.failure).substr(start));
    std::fprintf(stderr, "shader program '%s' failed to build:\n%s\n", Printable(program.name).c_str(), text.c_str());
    std::fflush(stderr);
}

bool IsXml(const std::string& path) { return path.size() > 4 && path.compare(path.size() - 4, 4, ".xml") == 0; }

}  // namespace

void AuthorChecks::Start() {
    // Before the renderer builds its programs.
    ShaderProgram::onFailure = PrintShaderFailure;
    {
        std::lock_guard<std::mutex> lock(stopMutex);
        stopRequested = false;
    }
    thread = std::thread([this] { Run(); });
}

void AuthorChecks::Stop() {
    {
        std::lock_guard<std::mutex> lock(stopMutex);
        stopRequested = true;
    }
    stopSignal.notify_all();
    if (thread.joinable()) thread.join();
    ShaderProgram::onFailure = nullptr;
}

bool AuthorChecks::Sleep(int ms) {
    std::unique_lock<std::mutex> lock(stopMutex);
    return !stopSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopRequested; });
}

void AuthorChecks::Run() {
    std::map<std::string, fs::file_time_type> known;
    bool first = true;
    for (;;) {
        std::map<std::string, fs::file_time_type> now = Stamps();
        LintOptions options;
        bool changed = first;
        bool everything = first;
        if (!first) {
            for (const auto& [path, time] : now) {
                auto it = known.find(path);
                if (it != known.end() && it->second == time) continue;
                changed = true;
                if (path == "data.pack" || path == "music.mp3") everything = true;
                options.onlyFiles.push_back(path);
            }
            for (const auto& [path, time] : known)
                if (!now.count(path)) {
                    changed = true;
                    everything = true;  // a deleted file changes what names resolve to everywhere
                }
        }
        known = std::move(now);
        if (changed) {
            if (everything) {
                options.onlyFiles.clear();
            } else {
                // What a reference resolves to may change with any file: the
                // XML files are checked again every time (they are cheap),
                // models and textures only when they changed.
                for (const auto& [path, time] : known)
                    if (IsXml(path)) options.onlyFiles.push_back(path);
            }
            LintReport report = LintProduction(".", options);

            std::map<std::string, std::set<std::string>> found;
            for (const Diagnostic& d : report.diagnostics) found[d.file].insert(d.Format());
            for (const Diagnostic& d : report.diagnostics) {
                const std::string line = d.Format();
                const std::set<std::string>& before = shown[d.file];
                if (!before.count(line)) Log(3, "%s", line.c_str());
            }
            // Problems that went away may be reported again when they return.
            if (everything) shown.clear();
            for (const std::string& path : options.onlyFiles) shown.erase(path);
            for (auto& [file, lines] : found) shown[file] = std::move(lines);
            if (first && report.diagnostics.empty() && report.isProduction) Log(3, "Author mode: the content checks found no problem");
        }
        first = false;
        if (!Sleep(1500)) return;
    }
}

}  // namespace caldera
