#pragma once

// Durations as timeout(1) reads them: a non-negative number, a fraction allowed, with an
// optional unit s (the default), m, h or d.

#include <optional>
#include <string>

namespace ifxctl {

// Seconds, or nullopt for a text that is no duration.
std::optional<double> ParseDuration(const std::string& text);

// The duration as given back in words for a message: "10s", "1.5m".
std::string DurationText(const std::string& text);

}  // namespace ifxctl
