// Expansion of environment variables in texts such as paths: "%NAME%", "${NAME}" and "$NAME".
// Nothing is ever executed: there is no command substitution, no arithmetic, no globbing.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

using EnvLookup = std::function<std::optional<std::u16string>(std::u16string_view name)>;

// Expands every reference whose name is set; a reference to an unset name, a lone "%" or "$"
// and an unterminated "${" stay exactly as written. Names in "$NAME" are letters, digits and
// "_" not starting with a digit. The lookup defaults to the process environment.
std::u16string ExpandEnvironment(std::u16string_view text, const EnvLookup& lookup = {});

} // namespace platform
