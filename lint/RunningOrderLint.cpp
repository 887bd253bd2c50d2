#include <pugixml.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lint/LintContext.h"
#include "playback/Timeline.h"

namespace caldera {

// The running order: its names, and what it shows when. The entries are read
// by the player's own parser, beside their elements for the line numbers.

namespace {

using Names = std::vector<std::string>;

bool Contains(const Names& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

void CheckTimelineXml(const FileBuffer& file, const Inventory& inventory, Reporter& report) {
    XmlText xml(file);
    if (!Parsed(xml, report, "the player keeps the running order it had, or shows nothing")) return;
    pugi::xml_node root = xml.document.child("TimeLine");
    if (!root) {
        report.Error(RootLine(xml), "no 'TimeLine' element: the player keeps the running order it had, or shows "
                                    "nothing" + RootDidYouMean(xml, "TimeLine"));
        return;
    }
    XmlRules check(xml, report);
    check.Attributes(root, {}, "TimeLine");

    // The entries as the player reads them, beside their elements.
    Timeline::EntryList entries;
    Timeline::Parse(file.data.data(), file.size, entries);
    std::vector<pugi::xml_node> nodes;
    const Names values{"FrameStart", "FrameEnd", "LoopTimes", "Duration", "TimeStart"};
    for (pugi::xml_node node : root.children()) {
        if (node.type() != pugi::node_element) continue;
        if (std::string_view(node.name()) != "TimeLineObject") {
            check.UnknownElement(node, {"TimeLineObject"}, "TimeLine");
            continue;
        }
        check.Attributes(node, {"scene", "camera"}, "TimeLineObject");
        std::set<std::string> seen;
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            if (!Contains(values, child.name())) {
                check.UnknownElement(child, values, "TimeLineObject");
                continue;
            }
            check.Repeated(child, seen, "TimeLineObject");
            check.Attributes(child, {"value"}, child.name());
            check.Number(child, "value", child.name());
        }
        if (!*node.attribute("scene").value()) {
            report.Error(xml.LineOf(node), "TimeLineObject without 'scene' is dropped");
            continue;
        }
        nodes.push_back(node);
    }
    if (nodes.size() != entries.size()) return;  // cannot happen: the same parser and the same filter

    // Names, then what the running order shows when.
    struct Window {
        size_t index;
        double start, end;
    };
    std::vector<Window> shown;  // entries whose scene and camera resolve, in file order
    for (size_t i = 0; i < entries.size(); ++i) {
        const TimelineEntry& entry = entries[i];
        const pugi::xml_node& node = nodes[i];
        // Findings about the window stand on the line that sets it.
        const int line = xml.LineOf(node.child("TimeStart") ? node.child("TimeStart") : node);
        const int durationLine = xml.LineOf(node.child("Duration") ? node.child("Duration") : node);
        bool resolves = true;
        if (!Contains(inventory.scenes, entry.sceneName)) {
            CheckFileReference(report, xml.LineOf(node, "scene"), entry.sceneName, inventory.scenes, "scene");
            resolves = false;
        } else {
            auto it = inventory.cameras.find(entry.sceneName);
            const Names none;
            const Names& cameras = it == inventory.cameras.end() ? none : it->second;
            if (!Contains(cameras, entry.cameraName)) {
                report.Error(xml.LineOf(node, "camera"),
                             entry.cameraName.empty()
                                 ? "TimeLineObject without 'camera': scene '" + entry.sceneName + "' has no unnamed camera"
                                 : "camera '" + entry.cameraName + "' is not in scene '" + entry.sceneName + "'" +
                                       DidYouMean(entry.cameraName, cameras));
                resolves = false;
            }
        }
        // The window, formed as the frame driver forms it.
        const double start = entry.timeStart;
        const double end = static_cast<double>(entry.timeStart + entry.duration);
        if (!(entry.duration > 0)) {
            report.Error(durationLine, "Duration " + FormatNumber(entry.duration) + ": the entry is never shown");
            continue;
        }
        if (inventory.musicSeconds >= 0 && start >= inventory.musicSeconds) {
            report.Error(line, "starts at " + FormatNumber(entry.timeStart) + " s, after the music ends (" +
                                   FormatNumber(static_cast<float>(inventory.musicSeconds)) +
                                   " s): never shown");
            continue;
        }
        if (inventory.musicSeconds >= 0 && end > inventory.musicSeconds + 0.05)
            report.Warning(durationLine, "ends at " + FormatNumber(static_cast<float>(end)) +
                                     " s, after the music ends (" +
                                     FormatNumber(static_cast<float>(inventory.musicSeconds)) +
                                     " s): the production stops first");
        if (!resolves) continue;

        // Covered by earlier entries: the first in file order wins.
        std::vector<std::pair<double, double>> covered;
        for (const Window& w : shown)
            if (w.start < end && start < w.end) covered.emplace_back(std::max(w.start, start), std::min(w.end, end));
        std::sort(covered.begin(), covered.end());
        double reach = start;
        for (const auto& [a, b] : covered)
            if (a <= reach + 1e-9) reach = std::max(reach, b);
        if (!covered.empty() && reach >= end - 1e-9) {
            report.Error(line, "never shown: entries before it cover its whole window (" +
                                   FormatNumber(entry.timeStart) + " s to " +
                                   FormatNumber(static_cast<float>(end)) + " s)");
        } else if (!covered.empty()) {
            const Window* first = nullptr;
            for (const Window& w : shown)
                if (w.start < end && start < w.end) {
                    first = &w;
                    break;
                }
            report.Warning(line, "overlaps the entry at line " + std::to_string(xml.LineOf(nodes[first->index])) +
                                     " from " + FormatNumber(static_cast<float>(std::max(first->start, start))) +
                                     " s to " + FormatNumber(static_cast<float>(std::min(first->end, end))) +
                                     " s, which wins there");
        }
        shown.push_back({i, start, end});
    }

    // Gaps: music time that no entry shows draws black.
    std::vector<Window> sorted = shown;
    std::sort(sorted.begin(), sorted.end(), [](const Window& a, const Window& b) { return a.start < b.start; });
    double reach = 0;
    for (const Window& w : sorted) {
        if (w.start > reach + 0.01 &&
            (inventory.musicSeconds < 0 || reach < inventory.musicSeconds))
            report.Warning(xml.LineOf(nodes[w.index].child("TimeStart") ? nodes[w.index].child("TimeStart") : nodes[w.index]),
                           "nothing is shown from " + FormatNumber(static_cast<float>(reach)) + " s to " +
                               FormatNumber(static_cast<float>(w.start)) + " s (a gap before this entry)");
        reach = std::max(reach, w.end);
    }
    if (!sorted.empty() && inventory.musicSeconds >= 0 && reach < inventory.musicSeconds - 0.05)
        report.Warning(xml.LineOf(root), "nothing is shown from " + FormatNumber(static_cast<float>(reach)) +
                                             " s to the end of the music (" +
                                             FormatNumber(static_cast<float>(inventory.musicSeconds)) + " s)");
    if (entries.empty()) report.Warning(xml.LineOf(root), "the running order is empty: nothing is shown");
}

void CheckMixPass(const FileBuffer& timeline, const Inventory& inventory, std::vector<Diagnostic>& out) {
    // The production's default lens dirt serves every camera: the mix runs.
    if (Contains(inventory.textures, "lensdirt.jpg")) return;
    Timeline::EntryList entries;
    Timeline::Parse(timeline.data.data(), timeline.size, entries);
    // Per scene and camera, the shots (1-based, as --shot counts them) that show it.
    std::map<std::pair<std::string, std::string>, std::vector<size_t>> shots;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].duration > 0) shots[{entries[i].sceneName, entries[i].cameraName}].push_back(i + 1);
    for (const auto& [names, numbers] : shots) {
        const auto& [sceneName, cameraName] = names;
        auto cameras = inventory.cameraMix.find(sceneName);
        auto file = inventory.sceneFiles.find(sceneName);
        if (cameras == inventory.cameraMix.end() || file == inventory.sceneFiles.end()) continue;
        // The frame driver finds the first camera of that name.
        const Inventory::CameraMix* camera = nullptr;
        for (const Inventory::CameraMix& c : cameras->second)
            if (c.name == cameraName) {
                camera = &c;
                break;
            }
        if (!camera || camera->keyed.empty() || Contains(inventory.textures, camera->lensDirt)) continue;
        std::string what, shotList;
        for (size_t k = 0; k < camera->keyed.size(); ++k)
            what += (k == 0 ? "" : k + 1 == camera->keyed.size() ? " and " : ", ") + camera->keyed[k];
        for (size_t k = 0; k < numbers.size(); ++k) shotList += (k ? ", " : "") + std::to_string(numbers[k]);
        const std::string dirt = camera->lensDirt == "lensdirt.jpg"
                                     ? "the camera no lens dirt texture"
                                     : "the camera's lensDirt '" + camera->lensDirt + "' is no texture of it";
        Reporter(out, file->second)
            .Warning(camera->line, "camera '" + camera->name + "' keys " + what + ", which will not show (shot" +
                                       (numbers.size() == 1 ? " " : "s ") + shotList +
                                       "): the production has no data/textures/lensdirt.jpg and " + dirt +
                                       ", so the mix pass is skipped");
    }
}

}  // namespace caldera
