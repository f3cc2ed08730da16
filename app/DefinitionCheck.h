// What a loaded camera definition would get wrong at run time, found without a camera.
#pragma once

#include <string>
#include <vector>

class clCamPropertyMgr;

struct DefinitionProblem {
    // "formula", "reference", "unused-command", "empty-range", "duplicate-entry"
    std::string kind;
    std::string where;  // the property, command or information record
    std::string detail; // one line: what is wrong
};

// Calculators whose formula fails with the current values (with the evaluator's error text),
// names that refer to no property or command, commands no property sends, Integer ranges whose
// minimum lies above their maximum, and Selection entries whose text or value is given twice.
// Sorted by record name within each kind, kinds in the order above.
std::vector<DefinitionProblem> CheckDefinition(const clCamPropertyMgr& manager);

// The message id that names why a camera definition did not load (a result of
// clCamPropertyMgr::Load other than kLoadOk).
int DefinitionLoadFailureMessage(int loadResult);

// The property names of the property tree, in the order the tree shows them.
std::vector<std::u16string> TreePropertyNames(const clCamPropertyMgr& manager);
