#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "particles/ObjectParticles.h"
#include "scene/Array.h"
#include "scene/Camera.h"
#include "scene/Object.h"
#include "scene/ParameterTable.h"
#include "scene/Scene.h"

using namespace caldera;

// The manual's element tables (docs/authoring.md) against the loaders'
// parameter tables: every element the player reads is documented, every
// documented element is read, and the stated defaults are the loader's.

namespace {

// One parameter as the test compares it; an element may feed two.
struct Expected {
    PropertyType kind;
    float defaultValue;
};
using Expectations = std::multimap<std::string, Expected>;

template <class Owner>
void Add(Expectations& into, std::span<const Parameter<Owner>> table) {
    for (const Parameter<Owner>& p : table) into.insert({p.element, {KindOf(p), p.defaultValue}});
}

// The manual's rows under "### heading": element name to its default cell.
// A row naming several elements gives each its own default when the cell
// lists as many ("4, 8"), else the one default to all.
struct ManualTable {
    bool found = false;
    std::multimap<std::string, std::string> defaults;
};

std::vector<std::string> Cells(const std::string& row) {
    std::vector<std::string> cells;
    std::stringstream in(row.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) {
        const size_t first = cell.find_first_not_of(' ');
        const size_t last = cell.find_last_not_of(' ');
        cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    return cells;
}

std::vector<std::string> Split(const std::string& text, const std::string& by) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(by, start)) != std::string::npos; start = at + by.size())
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

ManualTable ReadTable(const std::vector<std::string>& lines, const std::string& heading) {
    ManualTable table;
    size_t i = 0;
    while (i < lines.size() && lines[i] != "### " + heading) ++i;
    int defaultColumn = -1;
    for (++i; i < lines.size() && lines[i].rfind('#', 0) != 0; ++i) {
        if (lines[i].rfind('|', 0) != 0) {
            if (table.found) break;  // the first table only
            continue;
        }
        std::vector<std::string> cells = Cells(lines[i]);
        if (!table.found) {
            if (cells.empty() || cells[0] != "element") continue;
            table.found = true;
            for (size_t c = 0; c < cells.size(); ++c)
                if (cells[c] == "default") defaultColumn = static_cast<int>(c);
            continue;
        }
        if (cells[0].rfind("---", 0) == 0) continue;
        std::string cell = defaultColumn >= 0 && static_cast<size_t>(defaultColumn) < cells.size()
                               ? cells[static_cast<size_t>(defaultColumn)]
                               : "";
        cell = std::regex_replace(cell, std::regex("\\*\\*"), "");
        std::vector<std::string> names;
        const std::regex quoted("`([^`]+)`");
        for (auto m = std::sregex_iterator(cells[0].begin(), cells[0].end(), quoted); m != std::sregex_iterator(); ++m)
            names.push_back((*m)[1]);
        std::vector<std::string> each = Split(cell, ", ");
        for (size_t n = 0; n < names.size(); ++n)
            table.defaults.insert({names[n], each.size() == names.size() ? each[n] : cell});
    }
    return table;
}

// Why `cell` does not state the default of `expected`; empty when it does.
std::string DefaultMismatch(const Expected& expected, const std::string& cell) {
    auto says = [&](const std::string& text) { return cell.find(text) != std::string::npos; };
    switch (expected.kind) {
    case TypeFloat:
    case TypeLine: {
        char* end = nullptr;
        const float stated = std::strtof(cell.c_str(), &end);
        if (end != cell.c_str() && std::fabs(stated - expected.defaultValue) <= 1e-6f) return {};
        std::ostringstream why;
        why << "the loader's default is " << expected.defaultValue;
        return why.str();
    }
    case TypeBool:
        if (cell.rfind(expected.defaultValue != 0 ? "on" : "off", 0) == 0) return {};
        return std::string("the loader's default is ") + (expected.defaultValue != 0 ? "on" : "off");
    case TypeVec3: return says("0 0 0") ? std::string() : "the loader's default is 0 0 0";
    case TypeEmitterType:
    case TypeDrawMode: {
        const std::string first = expected.kind == TypeEmitterType ? EmitterTypeNames[0] : DrawModeNames[0];
        return says("`" + first + "`") ? std::string() : "the loader's default is " + first;
    }
    case TypeModel:
    case TypeMaterial: return cell.rfind("none", 0) == 0 ? std::string() : "the loader's default is none";
    }
    return {};
}

}  // namespace

TEST(SceneParameters, ManualTablesMatchTheLoaders) {
    std::ifstream file(std::string(DEMO_SOURCE_DIR) + "/docs/authoring.md");
    ASSERT_TRUE(file) << "docs/authoring.md cannot be read";
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }

    struct Section {
        const char* heading;
        Expectations expected;
        std::vector<std::string> nested;  // elements of their own, not parameters
    };
    std::vector<Section> sections(6);
    sections[0] = {"Object", {}, {"Object", "Array", "Particles", "CopyTransform"}};
    Add(sections[0].expected, Object::Parameters());
    sections[1] = {"Array", {}, {}};
    Add(sections[1].expected, Array::Parameters());
    sections[2] = {"Particles", {}, {}};
    Add(sections[2].expected, ObjectParticles::Parameters());
    sections[3] = {"Camera", {}, {}};
    Add(sections[3].expected, Camera::Parameters());
    sections[4] = {"ShadowMap", {}, {}};
    Add(sections[4].expected, Scene::ShadowMapParameters());
    sections[5] = {"PostEffects", {}, {}};
    Add(sections[5].expected, Scene::PostEffectsParameters());

    for (const Section& section : sections) {
        const std::string where = std::string("### ") + section.heading;
        ManualTable manual = ReadTable(lines, section.heading);
        if (!manual.found) {
            ADD_FAILURE() << where << ": no table with an 'element' column";
            continue;
        }
        for (auto row = manual.defaults.begin(); row != manual.defaults.end();
             row = manual.defaults.upper_bound(row->first)) {
            const std::string& name = row->first;
            const std::string& cell = row->second;
            if (manual.defaults.count(name) > 1) ADD_FAILURE() << where << ": '" << name << "' is listed twice";
            if (std::find(section.nested.begin(), section.nested.end(), name) != section.nested.end()) continue;
            auto [first, last] = section.expected.equal_range(name);
            if (first == last)
                ADD_FAILURE() << where << ": the manual lists '" << name << "', which the loader does not read";
            for (auto it = first; it != last; ++it) {
                const std::string why = DefaultMismatch(it->second, cell);
                if (!why.empty())
                    ADD_FAILURE() << where << ": '" << name << "' default \"" << cell << "\" in the manual, but "
                                  << why;
            }
        }
        for (auto it = section.expected.begin(); it != section.expected.end();
             it = section.expected.upper_bound(it->first))
            if (!manual.defaults.count(it->first))
                ADD_FAILURE() << where << ": the loader reads '" << it->first << "', which the manual does not list";
        for (const std::string& name : section.nested)
            if (!manual.defaults.count(name)) ADD_FAILURE() << where << ": the manual does not list '" << name << "'";
    }
}
