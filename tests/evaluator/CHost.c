/* The interface compiled as C: the program's calling sequence for one calculation. */
#include "evaluator/Tallix.h"

#include <stddef.h>
#include <stdio.h>

int main(void) {
    TallixParser* parser = Tallix_Alloc();
    const double a = 5.0;
    void* payload = NULL;
    double result = 0.0;
    const char* error;
    if (parser == NULL)
        return 1;
    if (Tallix_IndexOf(parser, "A", &payload) < 0)
        Tallix_AddString(parser, "A", &a);
    else
        Tallix_Replace(parser, "A", &a);
    error = Tallix_Parse(parser, "A*2", &result);
    Tallix_Free(parser);
    if (error != NULL || result != 10.0) {
        fprintf(stderr, "A*2 gave %s %g\n", error != NULL ? error : "", result);
        return 1;
    }
    return 0;
}
