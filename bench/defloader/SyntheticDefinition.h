// Synthetic camera definitions of any size, for benchmarks: properties of every kind with
// bilingual titles and notes, one command per writable property, information replies,
// calculators and a tree of groups.
#pragma once

#include <string>

namespace bench {

// A definition with `properties` properties (a mix of all kinds), as UTF-8 XML text.
std::string SyntheticDefinition(int properties);

} // namespace bench
