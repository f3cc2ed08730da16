// Evaluation of calculated properties through the expression evaluator library.
//
// Every evaluation starts from a new parser: the pVariable bindings are registered with the
// current values of their properties, the formula is evaluated and the parser is freed again,
// so no evaluator state survives between evaluations.
#include "camdef/CamPropertyMgr.h"
#include "camdef/NumberText.h"
#include "evaluator/Tallix.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Variable names go to the library in a zero-filled buffer of this size; longer names are cut
// to one byte less.
constexpr size_t kVariableNameBuffer = 200;

struct ParserFree {
    void operator()(TallixParser* parser) const { Tallix_Free(parser); }
};
using ParserPtr = std::unique_ptr<TallixParser, ParserFree>;

// Runs the formula of calculator `p` and hands the result double to `store`, also when the
// evaluation failed (it then holds what the library left in it). 0 success, 1 failure; with no
// parser nothing is stored. errorText, when given, gets the library's error text of a failure.
template <class Store>
int EvaluateCalculator(const clCamPropertyMgr& mgr, const clCamProperty* p, Store store,
                       std::string* errorText = nullptr) {
    ParserPtr parser(Tallix_Alloc());
    if (!parser) {
        if (errorText)
            *errorText = "no parser";
        return 1;
    }
    for (const auto& [variable, propertyName] : p->variables) {
        const std::string name = platform::Utf16ToLocale(variable);
        // Integer, Bool (its state), Float and Selection give their value; Execution and String
        // give 0; a name that no property has leaves the variable undefined.
        double value = 0.0;
        CamPropertyType type;
        if (mgr.GetValueAsFloat(propertyName, value, type) != 0)
            continue;
        char buffer[kVariableNameBuffer] = {};
        std::memcpy(buffer, name.data(), std::min(name.size(), kVariableNameBuffer - 1));
        // A name bound twice: the later binding's value wins.
        void* payload = nullptr;
        if (Tallix_IndexOf(parser.get(), buffer, &payload) < 0)
            Tallix_AddString(parser.get(), buffer, &value);
        else
            Tallix_Replace(parser.get(), buffer, &value);
    }
    const std::string formula = platform::Utf16ToLocale(p->formula);
    double result = 0.0;
    const char* error = Tallix_Parse(parser.get(), formula.c_str(), &result);
    store(result);
    if (error && errorText)
        *errorText = error;
    return error ? 1 : 0;
}

} // namespace

// A record that is not a calculator keeps its value: its formula, if any, is not its source.
int clCamPropertyMgr::EvaluateIntegerCalculator(clCamPropertyInteger* p) {
    if (!p || !p->isCalculator)
        return 1;
    return EvaluateCalculator(*this, p,
                              [p](double result) { p->value = camdef::TruncateToInt64(result); });
}

int clCamPropertyMgr::EvaluateFloatCalculator(clCamPropertyFloat* p) {
    if (!p || !p->isCalculator)
        return 1;
    return EvaluateCalculator(*this, p, [p](double result) { p->value = result; });
}

int clCamPropertyMgr::TryCalculator(const clCamProperty* p, double& result,
                                    std::string& errorText) const {
    errorText.clear();
    if (!p || !p->isCalculator)
        return 1;
    return EvaluateCalculator(
        *this, p, [&result](double r) { result = r; }, &errorText);
}
