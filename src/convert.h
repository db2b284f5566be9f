// The conversion of a whole log.
#ifndef ZETTRIK_CONVERT_H
#define ZETTRIK_CONVERT_H

#include <stdint.h>
#include <stdio.h>

#include "input.h"

// The longest line that can be converted, its line feed included. A longer
// line is rejected like any line of the wrong shape.
constexpr size_t LONGEST = 65535;

// Converts the log from in to its end into target and returns the number of
// rejected complete lines. Sets *unread when reading failed before the end;
// what was read up to then is converted all the same. Closes nothing.
int64_t convert(input* in, FILE* target, bool* unread);

#endif
