#pragma once

// Shared by the checker's parts (ProductionLint.cpp, XmlLint.cpp,
// RunningOrderLint.cpp, ObjLint.cpp) and its fuzz target; not for use
// elsewhere.

#include <pugixml.hpp>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "lint/Diagnostic.h"
#include "lint/ShaderCompiler.h"
#include "resources/FileBuffer.h"

namespace caldera {

// Collects findings for one file.
class Reporter {
public:
    Reporter(std::vector<Diagnostic>& out, std::string file) : out(out), file(std::move(file)) {}
    void Error(int line, std::string message) { Add(Severity::error, line, std::move(message)); }
    void Warning(int line, std::string message) { Add(Severity::warning, line, std::move(message)); }
    const std::string& File() const { return file; }

private:
    void Add(Severity severity, int line, std::string message) {
        out.push_back({file, line < 1 ? 1 : line, severity, std::move(message)});
    }
    std::vector<Diagnostic>& out;
    std::string file;
};

// What exists in the production, by the names the player registers and
// looks up.
struct Inventory {
    // Lower-case file names the player registers and can load (loose files of
    // the folder, pack entries directly under it).
    std::vector<std::string> textures;
    std::vector<std::string> models;
    std::vector<std::string> scenes;  // without ".xml": the timeline's names
    // Names as the material library registers them (case-sensitive).
    std::vector<std::string> materials;
    bool materialsKnown = false;  // the library could be read
    // Per scene name: its camera names and its top-level object names.
    std::map<std::string, std::vector<std::string>> cameras;
    std::map<std::string, std::vector<std::string>> topObjects;
    double musicSeconds = -1;  // negative: unknown
    // Per scene name: the file its findings are filed under, and what each
    // camera sets for the mix pass (in document order).
    struct CameraMix {
        std::string name;
        int line = 1;
        std::string lensDirt;             // the texture name as written, "lensdirt.jpg" when none
        std::vector<std::string> keyed;  // fade, glow and colour-filter elements set to non-zero
    };
    std::map<std::string, std::string> sceneFiles;
    std::map<std::string, std::vector<CameraMix>> cameraMix;
};

// An XML content file with its line table, parsed as the player parses it.
// Reads the buffer's bytes, which must outlive it.
class XmlText {
public:
    explicit XmlText(const FileBuffer& file);
    pugi::xml_document document;
    pugi::xml_parse_result result;
    int LineOfOffset(ptrdiff_t offset) const;
    int LineOf(const pugi::xml_node& node) const;
    // The line of attribute `name` of `node` (the element's line when the
    // attribute cannot be found in its start tag).
    int LineOf(const pugi::xml_node& node, const char* name) const;

private:
    const char* text;
    size_t size;
    std::vector<size_t> lineStarts;
};

// The checks every XML content file shares: attributes and elements the
// player does not read, repeated elements, numbers and switches.
class XmlRules {
public:
    XmlRules(const XmlText& xml, Reporter& report) : xml(xml), report(report) {}

    // `note` ends each finding, e.g. what the value stays at.
    void Attributes(const pugi::xml_node& node, const std::vector<std::string>& allowed, const char* where,
                    const std::string& note = {});
    void UnknownElement(const pugi::xml_node& node, const std::vector<std::string>& allowed, const char* where);
    // A second element of a name that only counts once.
    void Repeated(const pugi::xml_node& node, std::set<std::string>& seen, const char* where);
    void Number(const pugi::xml_node& node, const char* attribute, const char* what);
    void Frame(const pugi::xml_node& key);
    void Switch(const pugi::xml_node& node, const char* attribute, const char* what);

protected:
    const XmlText& xml;
    Reporter& report;
};

// False, with the finding reported, when the file is not well-formed XML;
// `keeps` says what the player does then.
bool Parsed(const XmlText& xml, Reporter& report, const char* keeps);

// The line of the file's first element (1 when it has none), and what its
// name is when it is not the `expected` root: the nearest name or the name.
int RootLine(const XmlText& xml);
std::string RootDidYouMean(const XmlText& xml, const char* expected);

// A number as a finding shows it ("%g").
std::string FormatNumber(float value);

// Reports a reference to a file-named resource that the player will not find:
// capital letters (names are registered in lower case) or a name that is not
// there. `what` names the reference in the message ("model", "texture").
void CheckFileReference(Reporter& report, int line, const std::string& name, const std::vector<std::string>& known,
                        const char* what);

void CheckMaterialsXml(const FileBuffer& file, const Inventory& inventory, Reporter& report);
// Reads the names a scene defines (cameras, top-level objects) into the inventory.
void CollectSceneNames(const FileBuffer& file, const std::string& sceneName, Inventory& inventory);
void CheckSceneXml(const FileBuffer& file, const std::string& sceneName, const Inventory& inventory, Reporter& report);
void CheckTimelineXml(const FileBuffer& file, const Inventory& inventory, Reporter& report);
// The shots whose camera keys what only the mix pass draws (fades, glow,
// colour filter) while the mix pass is skipped: no lens-dirt texture, the
// camera's own or the production's lensdirt.jpg. Filed at the camera.
void CheckMixPass(const FileBuffer& timeline, const Inventory& inventory, std::vector<Diagnostic>& out);
// Reads the material names of the library into the inventory.
void CollectMaterialNames(const FileBuffer& file, Inventory& inventory);

// Every program of render/ProgramFiles.h: its files read as the player reads
// them from `root`, then compiled and linked by `compiler`. Returns why the
// compiler could not run, or empty.
std::string CheckShaderPrograms(const std::string& root, ShaderCompiler& compiler, std::vector<Diagnostic>& out);

void CheckObjModel(const FileBuffer& file, Reporter& report);
void CheckTextureImage(const FileBuffer& file, Reporter& report);

}  // namespace caldera
