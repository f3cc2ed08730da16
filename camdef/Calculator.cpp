// Evaluation of calculated properties.
//
// This is the hook the expression evaluator plugs into: EvaluateIntegerCalculator and
// EvaluateFloatCalculator bind the pVariable properties, run the formula and store the result
// in the calculator's value. Until the evaluator is wired in, only the formula that needs no
// evaluator is handled: an empty formula evaluates to 0 without error. Any other formula leaves
// the value unchanged and reports failure.
#include "camdef/CamPropertyMgr.h"

int clCamPropertyMgr::EvaluateIntegerCalculator(clCamPropertyInteger* p) {
    if (p->formula.empty()) {
        p->value = 0;
        return 0;
    }
    return 1;
}

int clCamPropertyMgr::EvaluateFloatCalculator(clCamPropertyFloat* p) {
    if (p->formula.empty()) {
        p->value = 0.0;
        return 0;
    }
    return 1;
}
