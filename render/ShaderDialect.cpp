#include "render/ShaderDialect.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace caldera {

namespace {

constexpr const char* kRenamedTexture = "texture_";
constexpr const char* kFragColor = "fragColor_";

bool IsIdentifierStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The source with every comment blanked to spaces (line ends kept), so that
// scans by position never see words in comments, and which positions those were.
struct Code {
    std::string text;
    std::vector<bool> comment;
};

Code StripComments(std::string_view source) {
    Code code{std::string(source), std::vector<bool>(source.size(), false)};
    for (size_t i = 0; i < source.size();) {
        size_t end = i;
        if (source.compare(i, 2, "//") == 0) {
            end = source.find('\n', i);
            if (end == std::string_view::npos) end = source.size();
        } else if (source.compare(i, 2, "/*") == 0) {
            end = source.find("*/", i + 2);
            end = end == std::string_view::npos ? source.size() : end + 2;
        } else {
            ++i;
            continue;
        }
        for (size_t k = i; k < end; ++k) {
            code.comment[k] = true;
            if (code.text[k] != '\n' && code.text[k] != '\r') code.text[k] = ' ';
        }
        i = end;
    }
    return code;
}

// The identifiers of comment-free `code`, in order, with their positions.
struct Word {
    std::string_view text;
    size_t at;
};
std::vector<Word> Words(std::string_view code) {
    std::vector<Word> words;
    for (size_t i = 0; i < code.size();) {
        if (IsIdentifierStart(code[i]) && (i == 0 || !IsIdentifierChar(code[i - 1]))) {
            size_t end = i;
            while (end < code.size() && IsIdentifierChar(code[end])) ++end;
            words.push_back({code.substr(i, end - i), i});
            i = end;
        } else {
            ++i;
        }
    }
    return words;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IsSamplerType(std::string_view word) {
    return StartsWith(word, "sampler") || StartsWith(word, "isampler") || StartsWith(word, "usampler");
}

// Whether a sampler is declared under the built-in function's name.
bool DeclaresSamplerNamedTexture(std::string_view code) {
    const std::vector<Word> words = Words(code);
    for (size_t i = 1; i < words.size(); ++i)
        if (words[i].text == "texture" && IsSamplerType(words[i - 1].text)) return true;
    return false;
}

bool UsesWord(std::string_view code, std::string_view word) {
    for (const Word& w : Words(code))
        if (w.text == word) return true;
    return false;
}

size_t SkipSpaces(std::string_view code, size_t at) {
    while (at < code.size() && (code[at] == ' ' || code[at] == '\t')) ++at;
    return at;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// The items of a layout qualifier list, "binding = 3" and the like.
std::vector<std::string_view> LayoutItems(std::string_view list) {
    std::vector<std::string_view> items;
    for (size_t start = 0;;) {
        const size_t comma = list.find(',', start);
        std::string_view item = Trim(list.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (!item.empty()) items.push_back(item);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return items;
}

bool IsBinding(std::string_view item) {
    if (!StartsWith(item, "binding")) return false;
    item.remove_prefix(7);
    return !item.empty() && !IsIdentifierChar(item.front());
}

// The `layout(...)` starting at `at` (the word), as the position after its
// ')' and the list between the parentheses; npos when it does not close on
// the same line.
size_t LayoutEnd(std::string_view code, size_t at, std::string_view& list) {
    size_t open = SkipSpaces(code, at + 6);
    if (open >= code.size() || code[open] != '(') return std::string_view::npos;
    const size_t close = code.find_first_of(")\n", open);
    if (close == std::string_view::npos || code[close] != ')') return std::string_view::npos;
    list = code.substr(open + 1, close - open - 1);
    return close + 1;
}

struct Rewrite {
    bool fragment;
    bool renameTexture;
    bool fragColor;
};

// One line (or directive) of code rewritten word by word; comments are
// copied from `raw`.
std::string RewriteLine(std::string_view raw, std::string_view code, const std::vector<bool>& comment, size_t offset,
                        const Rewrite& how) {
    std::string out;
    for (size_t i = 0; i < raw.size();) {
        if (comment[offset + i] || !IsIdentifierStart(code[i]) || (i > 0 && IsIdentifierChar(code[i - 1]))) {
            out += raw[i++];
            continue;
        }
        size_t end = i;
        while (end < code.size() && IsIdentifierChar(code[end])) ++end;
        const std::string_view word = code.substr(i, end - i);
        const size_t next = SkipSpaces(code, end);
        const bool called = next < code.size() && code[next] == '(';
        std::string_view replacement = word;
        if (word == "texture2D" || word == "textureCube") replacement = "texture";
        else if (word == "texture2DLod" || word == "textureCubeLod") replacement = "textureLod";
        else if (word == "texture" && how.renameTexture && !called) replacement = kRenamedTexture;
        else if (word == "attribute" && !how.fragment) replacement = "in";
        else if (word == "varying") replacement = how.fragment ? "in" : "out";
        else if (word == "gl_FragColor" && how.fragColor) replacement = kFragColor;
        else if (word == "layout") {
            std::string_view list;
            const size_t after = LayoutEnd(code, i, list);
            if (after != std::string_view::npos) {
                std::string kept;
                for (std::string_view item : LayoutItems(list))
                    if (!IsBinding(item)) kept += (kept.empty() ? "" : ", ") + std::string(item);
                // A qualifier of bindings alone goes with the space after it.
                if (kept.empty()) end = SkipSpaces(code, after);
                else {
                    out += "layout(" + kept + ")";
                    end = after;
                }
                i = end;
                continue;
            }
        }
        out += replacement;
        i = end;
    }
    return out;
}

std::string Header(const Rewrite& how) {
    std::string header;
    for (const char* type : {"float", "int", "sampler2D", "samplerCube", "sampler2DShadow", "sampler3D",
                             "sampler2DArray", "samplerCubeShadow"})
        header += std::string("precision highp ") + type + "; ";
    if (how.fragColor) header += std::string("layout(location = 0) out highp vec4 ") + kFragColor + "; ";
    return header;
}

// The directive's name, "version" for "  # version 330".
std::string_view DirectiveName(std::string_view code) {
    size_t at = SkipSpaces(code, 0);
    if (at >= code.size() || code[at] != '#') return {};
    at = SkipSpaces(code, at + 1);
    size_t end = at;
    while (end < code.size() && IsIdentifierChar(code[end])) ++end;
    return code.substr(at, end - at);
}

std::string_view LineEnding(std::string_view line) {
    if (line.size() >= 2 && line.substr(line.size() - 2) == "\r\n") return "\r\n";
    if (!line.empty() && line.back() == '\n') return "\n";
    return "";
}

}  // namespace

std::vector<SamplerUnit> SamplerBindings(std::string_view source) {
    const Code code = StripComments(source);
    const std::string_view text = code.text;
    std::vector<SamplerUnit> units;
    for (const Word& word : Words(text)) {
        if (word.text != "layout") continue;
        std::string_view list;
        const size_t after = LayoutEnd(text, word.at, list);
        if (after == std::string_view::npos) continue;
        int unit = -1;
        for (std::string_view item : LayoutItems(list))
            if (IsBinding(item)) {
                const size_t equals = item.find('=');
                if (equals != std::string_view::npos)
                    unit = std::atoi(std::string(Trim(item.substr(equals + 1))).c_str());
            }
        if (unit < 0) continue;
        // The declaration runs to its ';' or '['; its last word is the name.
        const size_t end = text.find_first_of(";[", after);
        bool sampler = false;
        std::string_view name;
        for (const Word& w : Words(text.substr(after, end == std::string_view::npos ? end : end - after))) {
            sampler = sampler || IsSamplerType(w.text);
            name = w.text;
        }
        if (sampler && !name.empty()) units.push_back({std::string(name), unit});
    }
    return units;
}

const char* EsUniformName(const char* name) { return std::strcmp(name, "texture") == 0 ? kRenamedTexture : name; }

std::string ToGlslEs(std::string_view source, bool fragment) {
    const Code code = StripComments(source);
    const Rewrite how{fragment, DeclaresSamplerNamedTexture(code.text), fragment && UsesWord(code.text, "gl_FragColor")};
    std::string out;
    bool versioned = false, headed = false;
    for (size_t at = 0; at < source.size();) {
        const size_t newline = source.find('\n', at);
        const size_t lineEnd = newline == std::string_view::npos ? source.size() : newline + 1;
        const std::string_view raw = source.substr(at, lineEnd - at);
        const std::string_view line = std::string_view(code.text).substr(at, lineEnd - at);
        const std::string_view directive = DirectiveName(line);
        if (directive == "version") {
            out += "#version 300 es";
            out += LineEnding(raw);
            versioned = true;
        } else if (directive == "extension" && line.find("GL_ARB_shading_language_420pack") != std::string_view::npos) {
            out += LineEnding(raw);
        } else {
            // Precision goes before the first declaration, on a line of its
            // own code, so no line moves.
            if (versioned && !headed && directive.empty() && !code.comment[at]) {
                out += Header(how);
                headed = true;
            }
            out += RewriteLine(raw, line, code.comment, at, how);
        }
        at = lineEnd;
    }
    if (!versioned) out = "#version 300 es\n" + Header(how) + "\n" + out;
    else if (!headed) out += Header(how) + "\n";
    return out;
}

}  // namespace caldera
