// SceneJson: the JSON layer under scene files. parseSceneJson reads a scene file's text into a
// document within bounds that keep a host alive on files from other tools and other people:
// nesting at most kMaxSceneDepth levels (refused while parsing, before a deeper value is built),
// numbers within double range, no NUL inside a text; every refusal names the file and the JSON
// path, or the line and column of a syntax error. Scene.cpp reads the document; messages show
// values through describeJson, which never renders more than a few dozen characters.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace tarsk::host {

// Arrays and objects inside each other, counting the top-level object as 1. The deepest value a
// scene means is a vector inside a keyed list parameter, 9 levels down.
constexpr size_t kMaxSceneDepth = 64;

// Parses a scene file's text. Throws HostError: "<label>:<line>:<column>: malformed JSON: ..." for
// syntax errors and text that is not UTF-8, "<label>: <path>: ..." for nesting deeper than
// kMaxSceneDepth, a number outside double range (1e400) and a text or key holding a NUL.
nlohmann::json parseSceneJson(std::string_view text, const std::string& label);

// The depth and NUL bounds for a document parsed elsewhere; throws HostError as above.
void checkSceneDocument(const nlohmann::json& doc, const std::string& label);

// A value as messages show it: its JSON type and at most about 40 characters of it, e.g.
// "array [1,2,[...],4,5,6,7,8,9,10,11,12,13,..." or "string \"abc\"".
std::string describeJson(const nlohmann::json& value);

// JSON paths as messages write them: "objects[0].texture.width". Keys are shortened and escaped.
std::string joinKey(const std::string& path, const std::string& key);
std::string joinIndex(const std::string& path, size_t index);

}  // namespace tarsk::host
