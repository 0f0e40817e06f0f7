#include "SceneJson.h"

#include "HostError.h"
#include "ShortText.h"

#include <algorithm>
#include <vector>

namespace tarsk::host {

using nlohmann::json;

namespace {

bool holdsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

const char* kNulMessage = "the text holds a NUL character (\\u0000)";

// One step from a container to the value inside it, for building a path only when it is needed.
struct PathStep {
    const std::string* key = nullptr;  // object member, or null for an array element
    size_t index = 0;
};

// A path of many steps shows its first and last few, so a message stays one readable line.
std::string formatPath(const std::vector<PathStep>& steps)
{
    constexpr size_t kHead = 8, kTail = 3;
    std::string path;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps.size() > kHead + kTail + 1 && i == kHead) {
            path += "...(" + std::to_string(steps.size() - kHead - kTail) + " more levels)...";
            i = steps.size() - kTail - 1;
            continue;
        }
        path = steps[i].key ? joinKey(path, *steps[i].key) : joinIndex(path, steps[i].index);
    }
    return path.empty() ? std::string("(top level)") : path;
}

std::string depthMessage()
{
    return "nested deeper than " + std::to_string(kMaxSceneDepth) + " levels of arrays and objects";
}

// Builds the document from the parser's events, keeping the path of the value being read, and
// stops (returns false with `error` set) at the first value outside the bounds.
class BoundedSceneReader {
public:
    BoundedSceneReader(std::string_view text, const std::string& label) : text(text), label(label) {}

    bool null() { return add(json(nullptr)); }
    bool boolean(bool value) { return add(json(value)); }
    bool number_integer(json::number_integer_t value) { return add(json(value)); }
    bool number_unsigned(json::number_unsigned_t value) { return add(json(value)); }
    bool number_float(json::number_float_t value, const json::string_t& /*text*/) { return add(json(value)); }
    bool string(json::string_t& value)
    {
        if (holdsNul(value)) return fail(kNulMessage);
        return add(json(std::move(value)));
    }
    bool binary(json::binary_t& /*value*/) { return fail("binary values are not JSON"); }
    bool start_object(size_t /*elements*/) { return open(json::object()); }
    bool start_array(size_t /*elements*/) { return open(json::array()); }
    bool key(json::string_t& key)
    {
        containers.back().key = std::move(key);
        if (holdsNul(containers.back().key)) return fail(kNulMessage);
        return true;
    }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool parse_error(size_t position, const std::string& lastToken, const json::exception& e)
    {
        if (e.id == 406) return fail("the number " + shortText(lastToken) + " is outside the range of a double");
        // The library's text reads "[json.exception.parse_error.101] parse error at line L, column C:
        // <reason>; last read: '<token>'"; the reason is kept, the place and token are ours.
        std::string reason = e.what();
        const size_t colon = reason.find(": ", reason.find("column"));
        if (colon != std::string::npos) reason.erase(0, colon + 2);
        const size_t last = reason.find("; last read:");
        if (last != std::string::npos) reason.erase(last);
        reason = shortText(reason, 160);
        if (!lastToken.empty()) reason += "; last read: '" + shortText(lastToken) + "'";
        const size_t end = std::min(position, text.size());
        const size_t lineStart = text.rfind('\n', end == 0 ? 0 : end - 1);
        const size_t line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + end, '\n'));
        const size_t column = lineStart == std::string_view::npos ? end : end - lineStart - 1;
        error = label + ":" + std::to_string(line) + ":" + std::to_string(column) + ": malformed JSON: " + reason;
        return false;
    }

    json root;
    std::string error;

private:
    struct OpenContainer {
        json* value;
        std::string key;  // objects: the key of the member being read
    };

    // Where the next value goes: the root, the end of the open array, or the open object's key.
    json& slot()
    {
        if (containers.empty()) return root;
        OpenContainer& c = containers.back();
        if (c.value->is_array()) {
            c.value->push_back(nullptr);
            return c.value->back();
        }
        return (*c.value)[c.key];
    }
    bool add(json&& value)
    {
        slot() = std::move(value);
        return true;
    }
    bool open(json&& container)
    {
        if (containers.size() + 1 > kMaxSceneDepth) return fail(depthMessage());
        json& placed = slot();
        placed = std::move(container);
        containers.push_back({&placed, {}});
        return true;
    }
    bool close()
    {
        containers.pop_back();
        return true;
    }
    // `what` about the value being read: the next element or member of the innermost container.
    bool fail(const std::string& what)
    {
        std::vector<PathStep> steps;
        for (size_t i = 0; i < containers.size(); ++i) {
            const OpenContainer& c = containers[i];
            const bool innermost = i + 1 == containers.size();
            if (c.value->is_array())
                steps.push_back({nullptr, c.value->size() - (innermost || c.value->empty() ? 0 : 1)});
            else
                steps.push_back({&c.key, 0});
        }
        error = label + ": " + formatPath(steps) + ": " + what;
        return false;
    }

    std::string_view text;
    const std::string& label;
    std::vector<OpenContainer> containers;
};

// Depth and NUL checks over a built document. The walk recurses, but never deeper than the bound.
class DocumentCheck {
public:
    explicit DocumentCheck(const std::string& label) : label(label) {}

    void visit(const json& value)
    {
        if (value.is_string()) {
            if (holdsNul(value.get_ref<const std::string&>())) fail(kNulMessage);
            return;
        }
        if (!value.is_structured()) return;
        if (steps.size() + 1 > kMaxSceneDepth) fail(depthMessage());
        if (value.is_array()) {
            steps.push_back({nullptr, 0});
            for (const json& element : value) {
                visit(element);
                ++steps.back().index;
            }
        } else {
            steps.push_back({nullptr, 0});
            for (auto it = value.begin(); it != value.end(); ++it) {
                steps.back().key = &it.key();
                if (holdsNul(it.key())) fail(kNulMessage);
                visit(it.value());
            }
        }
        steps.pop_back();
    }

private:
    [[noreturn]] void fail(const std::string& what) const
    {
        throw HostError(label + ": " + formatPath(steps) + ": " + what);
    }

    const std::string& label;
    std::vector<PathStep> steps;
};

// Elements of a container rendered into `out` until it holds `budget` characters; containers
// inside it show as [...] or {...}, so the cost never depends on the value's size or depth.
void renderShort(const json& value, std::string& out, size_t budget, bool inner)
{
    if (value.is_string()) {
        out += "\"" + shortText(value.get_ref<const std::string&>(), budget) + "\"";
    } else if (!value.is_structured()) {
        out += value.dump();
    } else if (inner) {
        out += value.is_array() ? (value.empty() ? "[]" : "[...]") : (value.empty() ? "{}" : "{...}");
    } else {
        const bool array = value.is_array();
        out += array ? '[' : '{';
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (out.size() > budget) {
                out += ",...";
                break;
            }
            if (!first) out += ',';
            first = false;
            if (!array) out += "\"" + shortText(it.key(), budget) + "\":";
            renderShort(it.value(), out, budget, true);
        }
        out += array ? ']' : '}';
    }
}

}  // namespace

json parseSceneJson(std::string_view text, const std::string& label)
{
    BoundedSceneReader reader(text, label);
    if (!json::sax_parse(text.begin(), text.end(), &reader)) throw HostError(reader.error);
    return std::move(reader.root);
}

void checkSceneDocument(const json& doc, const std::string& label) { DocumentCheck(label).visit(doc); }

std::string describeJson(const json& value)
{
    constexpr size_t kBudget = 40;
    std::string text;
    renderShort(value, text, kBudget, false);
    if (text.size() > kBudget + 3) {
        size_t cut = kBudget;
        // Never end inside a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) --cut;
        text = text.substr(0, cut) + "...";
    }
    return std::string(value.type_name()) + " " + text;
}

std::string joinKey(const std::string& path, const std::string& key)
{
    const std::string shown = shortText(key);
    return path.empty() ? shown : path + "." + shown;
}

std::string joinIndex(const std::string& path, size_t index) { return path + "[" + std::to_string(index) + "]"; }

}  // namespace tarsk::host
