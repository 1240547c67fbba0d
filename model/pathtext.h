#pragma once

#include <string>
#include <string_view>

namespace loomwatch::model {

// File paths as text, split at '/'; nothing here touches the file system.

// The last component of `path`, ignoring trailing separators; "/" for the root.
std::string lastPathComponent(std::string_view path);

// The last component without its extension: "a/rollout-1.jsonl" gives "rollout-1". A leading dot (".jsonl") or a
// trailing one ("notes.") is no extension.
std::string fileStem(std::string_view path);

// The name of the session a transcript file stands for when its lines do not say: the file stem, except that a Codex
// rollout's stem ("rollout-2026-12-06T10-42-06-<uuid>") gives the UUID that ends it, the id its first line states.
std::string transcriptSessionName(std::string_view path, bool codex);

} // namespace loomwatch::model
