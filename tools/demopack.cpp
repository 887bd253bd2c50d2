// demopack: makes, lists and unpacks the data.pack archives the player reads.
//
//   demopack create OUT.pack [--root DIR] PATH...
//   demopack list FILE.pack
//   demopack extract FILE.pack DIR
//
// Every failure prints "demopack: <what>" on stderr and exits with status 1;
// SIGINT, SIGTERM or SIGHUP stops it with 128 + the signal's number. Either
// way the pack being made, or the folder being extracted to, is left as it
// was. Names are printed with control bytes shown as \xNN.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/EntryPath.h"
#include "platform/File.h"
#include "platform/Printable.h"
#include "platform/QuitSignal.h"
#include "platform/Version.h"
#include "resources/ByteSource.h"
#include "resources/PackFormat.h"
#include "resources/PackReader.h"
#include "resources/PackWriter.h"

using namespace caldera;

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kProgressThreshold = 16u << 20;  // packs smaller than this finish too fast to report

int Usage(FILE* to = stderr) {
    std::fprintf(to,
                 "usage: demopack create OUT.pack [--root DIR] PATH...\n"
                 "       demopack list FILE.pack\n"
                 "       demopack extract FILE.pack DIR\n"
                 "       demopack --help | --version\n"
                 "create stores every file under each PATH (folders recursively), named by its\n"
                 "path relative to DIR (default: the current folder) with '/' separators.\n"
                 "PATHs are taken relative to DIR.\n");
    return 2;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "demopack: %s\n", Printable(message).c_str());
    return 1;
}

// After a quit signal: `what` was left as it was.
int Interrupted(const std::string& what) {
    const int signal = QuitSignalNumber();
    std::fprintf(stderr, "demopack: interrupted by %s; %s\n", QuitSignalName(signal), Printable(what).c_str());
    return 128 + signal;
}

// Reports every tenth of the work on large packs, on stderr.
class Progress {
public:
    Progress(const char* verb, uint64_t total) : verb(verb), total(total) {}
    void Advance(uint64_t bytes, size_t files) {
        done += bytes;
        if (total < kProgressThreshold) return;
        int tenth = static_cast<int>(done * 10 / total);
        if (tenth <= reported) return;
        reported = tenth;
        std::fprintf(stderr, "demopack: %s %zu files, %llu of %llu MiB (%d%%)\n", verb, files,
                     static_cast<unsigned long long>(done >> 20), static_cast<unsigned long long>(total >> 20),
                     tenth * 10);
    }

private:
    const char* verb;
    uint64_t total;
    uint64_t done = 0;
    int reported = 0;
};

struct Input {
    std::string storedName;
    fs::path source;
    uint64_t size = 0;
};

bool IsInside(const fs::path& relative) {
    return !relative.empty() && relative.is_relative() && *relative.begin() != "..";
}

// Collects the files under `argument`, in a stable order (folders sorted by
// name), named relative to `root`.
bool Collect(const fs::path& root, const std::string& argument, std::vector<Input>& inputs, std::string& error) {
    fs::path path = (root / PathFromUtf8(argument)).lexically_normal();
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        error = "no such file or folder: " + PathToUtf8(path);
        return false;
    }
    std::vector<fs::path> files;
    if (fs::is_directory(status)) {
        for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec)) files.push_back(it->path());
        if (ec) {
            error = "cannot list " + PathToUtf8(path) + ": " + ec.message();
            return false;
        }
        std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(status)) {
        files.push_back(path);
    } else {
        error = "not a file or folder: " + PathToUtf8(path);
        return false;
    }
    for (const fs::path& file : files) {
        fs::path relative = file.lexically_relative(root);
        if (!IsInside(relative)) {
            error = PathToUtf8(file) + " is outside the root folder " + PathToUtf8(root);
            return false;
        }
        uint64_t size = fs::file_size(file, ec);
        if (ec) {
            error = "cannot read " + PathToUtf8(file) + ": " + ec.message();
            return false;
        }
        inputs.push_back({GenericPathToUtf8(relative), file, size});
    }
    return true;
}

int Create(const std::vector<std::string>& args) {
    std::string out;
    std::string rootArgument = ".";
    std::vector<std::string> paths;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--root") {
            if (i + 1 >= args.size()) return Usage();
            rootArgument = args[++i];
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            std::fprintf(stderr, "demopack: unknown option '%s'\n", args[i].c_str());
            return Usage();
        } else if (out.empty()) {
            out = args[i];
        } else {
            paths.push_back(args[i]);
        }
    }
    if (out.empty() || paths.empty()) return Usage();

    std::error_code ec;
    if (!fs::is_directory(PathFromUtf8(rootArgument), ec)) return Fail("root folder not found: " + rootArgument);
    const fs::path root = fs::absolute(PathFromUtf8(rootArgument), ec).lexically_normal();

    std::vector<Input> inputs;
    std::string error;
    for (const std::string& path : paths)
        if (!Collect(root, path, inputs, error)) return Fail(error);

    // The same file named twice is stored once. Names that differ only in
    // case or separators look up the same entry, so the player reads only the
    // first: such a twin is left out, and said so.
    std::map<std::string, std::string> seen;  // normalised name -> stored name
    std::erase_if(inputs, [&](const Input& input) {
        auto [it, added] = seen.emplace(NormalizePackName(input.storedName), input.storedName);
        if (!added && it->second != input.storedName)
            std::fprintf(stderr, "demopack: leaving out %s: the player would read %s under its name\n",
                         Printable(input.storedName).c_str(), Printable(it->second).c_str());
        return !added;
    });

    if (fs::is_directory(PathFromUtf8(out), ec)) return Fail(out + " is a folder");
    uint64_t total = 0;
    for (const Input& input : inputs) {
        if (fs::equivalent(input.source, PathFromUtf8(out), ec)) return Fail("refusing to overwrite its own input " + out);
        total += input.size;
    }

    PackWriter writer;
    if (!writer.Open(out, error)) return Fail(error);
    Progress progress("packed", total);
    size_t count = 0;
    const std::string unchanged = fs::exists(PathFromUtf8(out), ec) ? out + " is unchanged" : "no pack was written";
    for (const Input& input : inputs) {
        if (!writer.AddFile(input.storedName, PathToUtf8(input.source), error))
            return QuitSignalled() ? Interrupted(unchanged) : Fail(error);
        progress.Advance(input.size, ++count);
    }
    if (QuitSignalled()) return Interrupted(unchanged);
    if (!writer.Finish(error)) return Fail(error);
    std::printf("%s: %u files, %llu bytes, %llu compressed, %u stored uncompressed\n",
                Printable(out).c_str(), writer.EntryCount(), static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(writer.CompressedBytes()), writer.StoredEntryCount());
    return 0;
}

// Opens a pack and checks its header; null after reporting the error.
std::unique_ptr<FileByteSource> OpenPack(const std::string& path, std::string& error) {
    auto pack = FileByteSource::Open(path);
    if (!pack) {
        error = "cannot open " + path;
        return nullptr;
    }
    PackReader reader(*pack);
    if (!reader.ReadHeader()) {
        error = path + " is not a pack (its header is not \".KRR\")";
        return nullptr;
    }
    return pack;
}

std::string Damaged(const std::string& path, size_t index) {
    return path + " is damaged at entry " + std::to_string(index + 1) + " (cut short or a size runs past its end)";
}

int List(const std::string& path) {
    std::string error;
    auto pack = OpenPack(path, error);
    if (!pack) return Fail(error);
    PackReader reader(*pack);
    PackEntry entry;
    size_t count = 0;
    uint64_t total = 0;
    std::printf("%12s %12s %7s  %s\n", "size", "compressed", "ratio", "name");
    for (PackStep step; (step = reader.Next(entry)) != PackStep::end; ++count) {
        if (step == PackStep::damaged || !reader.SkipData(entry)) return Fail(Damaged(path, count));
        // Compressed size as a share of the size: about 100% for entries
        // stored uncompressed.
        char ratio[16] = "      -";
        if (entry.uncompressedSize > 0)
            std::snprintf(ratio, sizeof(ratio), "%6.1f%%", 100.0 * entry.compressedSize / entry.uncompressedSize);
        std::printf("%12u %12u %7s  %s\n", entry.uncompressedSize, entry.compressedSize, ratio,
                    Printable(entry.storedName).c_str());
        total += entry.uncompressedSize;
    }
    std::printf("%zu files, %llu bytes\n", count, static_cast<unsigned long long>(total));
    return 0;
}

// A folder of its own inside the target, where every entry is written
// before any of them is moved into place; removed with what it holds.
class Staging {
public:
    bool Create(const fs::path& target, std::string& error) {
        std::random_device seed;
        for (int attempt = 0; attempt < 100; ++attempt) {
            fs::path path = target / (".demopack-extract-" + std::to_string(seed() % 1000000000u));
            std::error_code ec;
            if (fs::create_directory(path, ec)) {
                folder = path;
                return true;
            }
            if (ec) {
                error = "cannot create a folder in " + PathToUtf8(target) + ": " + ec.message();
                return false;
            }
        }
        error = "cannot create a folder in " + PathToUtf8(target);
        return false;
    }
    ~Staging() {
        std::error_code ec;
        if (!folder.empty()) fs::remove_all(folder, ec);
    }
    const fs::path& Folder() const { return folder; }

private:
    fs::path folder;
};

// The target folder, made when it was missing; removed again, if still
// empty, unless the extraction succeeded.
class TargetFolder {
public:
    bool Prepare(const fs::path& path, std::string& error) {
        folder = path;
        std::error_code ec;
        if (fs::is_directory(path, ec)) return true;
        if (fs::exists(fs::symlink_status(path, ec))) {
            error = PathToUtf8(path) + " is not a folder";
            return false;
        }
        created = fs::create_directories(path, ec);
        if (ec) error = "cannot create " + PathToUtf8(path) + ": " + ec.message();
        return !ec;
    }
    void Keep() { created = false; }
    ~TargetFolder() {
        std::error_code ec;
        if (created) fs::remove(folder, ec);  // only an empty folder goes
    }

private:
    fs::path folder;
    bool created = false;
};

bool WriteStaged(const fs::path& path, const FileBuffer& data, std::string& error) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::FILE* out = ec ? nullptr : OpenFile(PathToUtf8(path), "wb");
    if (!out) {
        error = "cannot write " + PathToUtf8(path) + (ec ? ": " + ec.message() : "");
        return false;
    }
    bool ok = std::fwrite(data.data.data(), 1, data.size, out) == data.size && FlushToDisk(out);
    ok = std::fclose(out) == 0 && ok;
    if (!ok) error = "cannot write " + PathToUtf8(path) + ": " + std::strerror(errno);
    return ok;
}

// Why `relative` cannot be moved into `folder`, or empty: a link on the way
// (never written through, nor replaced), a folder where the file goes, or a
// file where a folder goes.
std::string TargetProblem(const fs::path& folder, const fs::path& relative, const fs::path& pack) {
    const fs::path link = LinkOnTheWay(folder, relative);
    if (!link.empty()) return PathToUtf8(link) + " is a symbolic link: refusing to write through it or over it";
    std::error_code ec;
    fs::path path = folder;
    for (auto part = relative.begin(); part != relative.end(); ++part) {
        path /= *part;
        const fs::file_status status = fs::symlink_status(path, ec);
        if (!fs::exists(status)) break;
        const bool last = std::next(part) == relative.end();
        if (last && fs::is_directory(status)) return PathToUtf8(path) + " is a folder";
        if (!last && !fs::is_directory(status)) return PathToUtf8(path) + " is a file, not a folder";
    }
    if (fs::equivalent(folder / relative, pack, ec))
        return "refusing to overwrite the pack itself: " + PathToUtf8(folder / relative);
    return {};
}

int Extract(const std::string& path, const std::string& folderArgument) {
    std::string error;
    auto pack = OpenPack(path, error);
    if (!pack) return Fail(error);
    std::error_code ec;
    const fs::path folder = fs::absolute(PathFromUtf8(folderArgument), ec).lexically_normal();
    const std::string untouched = "nothing in " + PathToUtf8(folder) + " was changed";
    TargetFolder target;
    if (!target.Prepare(folder, error)) return Fail(error);
    Staging staging;
    if (!staging.Create(folder, error)) return Fail(error);

    // Every entry is read and written to the staging folder first: a refused
    // name, a damaged entry or a full disk then leaves the target as it was.
    Progress progress("extracted", pack->Remaining());
    PackReader reader(*pack);
    PackEntry entry;
    std::set<std::string> seen;
    std::vector<fs::path> staged;  // relative paths
    size_t count = 0;
    for (PackStep step; (step = reader.Next(entry)) != PackStep::end; ++count) {
        if (QuitSignalled()) return Interrupted(untouched);
        if (step == PackStep::damaged) return Fail(Damaged(path, count) + "; " + untouched);
        // The player reads only the first of entries that differ in case or
        // separators alone; so does extract.
        if (!seen.insert(entry.normalizedName).second) {
            std::fprintf(stderr, "demopack: skipping %s: the player never reads it (an earlier entry has its name)\n",
                         Printable(entry.storedName).c_str());
            if (!reader.SkipData(entry)) return Fail(Damaged(path, count) + "; " + untouched);
            continue;
        }
        const std::string problem = EntryNameProblem(entry.storedName);
        if (!problem.empty())
            return Fail("entry name leaves the target folder or cannot be a file name everywhere: " +
                        entry.storedName + " (" + problem + "); " + untouched);
        auto data = reader.ReadData(entry);
        if (!data) return Fail("damaged data in entry " + entry.storedName + "; " + untouched);
        const fs::path relative = EntryRelativePath(entry.storedName);
        if (!WriteStaged(staging.Folder() / relative, *data, error)) return Fail(error + "; " + untouched);
        staged.push_back(relative);
        progress.Advance(entry.compressedSize, count + 1);
    }
    if (QuitSignalled()) return Interrupted(untouched);

    // Checked for every entry before the first one moves.
    const fs::path packPath = fs::absolute(PathFromUtf8(path), ec);
    for (const fs::path& relative : staged) {
        const std::string problem = TargetProblem(folder, relative, packPath);
        if (!problem.empty()) return Fail(problem + "; " + untouched);
    }
    // Each move replaces a file whole, in one rename.
    for (size_t i = 0; i < staged.size(); ++i) {
        const fs::path to = folder / staged[i];
        fs::create_directories(to.parent_path(), ec);
        if (ec || !MoveOver(PathToUtf8(staging.Folder() / staged[i]), PathToUtf8(to), error))
            return Fail("cannot move " + PathToUtf8(to) + " into place: " + (ec ? ec.message() : error) + " (" +
                        std::to_string(i) + " of " + std::to_string(staged.size()) + " files were)");
    }
    target.Keep();
    std::printf("%zu files extracted to %s\n", staged.size(), Printable(PathToUtf8(folder)).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CatchQuitSignals();
    const std::vector<std::string> all = Utf8Arguments(argc, argv);
    if (all.size() < 2) return Usage();
    const std::string& command = all[1];
    if (command == "--help" || command == "-h" || command == "help") {
        Usage(stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("demopack %s\n", DEMO_VERSION);
        return 0;
    }
    std::vector<std::string> args(all.begin() + 2, all.end());
    if (command == "create") return Create(args);
    if (command == "list" && args.size() == 1) return List(args[0]);
    if (command == "extract" && args.size() == 2) return Extract(args[0], args[1]);
    return Usage();
}
