// The table of outputs (output.h): the run chooses from it by the target's
// name, and the tests walk it.
#include "output.h"

const sink* const sinks[] = {&tobook, &tobase, &tocsv};
const int SINKS = sizeof sinks / sizeof *sinks;
