// The table of outputs (output.h): the run chooses from it by the target's
// name, and a test walks it.
#include "output.h"

#include <iterator>

const sink* const sinks[] = {&tobook, &tobase, &tocsv};
const int SINKS = (int)std::size(sinks);
