// The conversion of a whole log.
#ifndef ZETTRIK_CONVERT_H
#define ZETTRIK_CONVERT_H

#include <stdint.h>
#include <stdio.h>

#include "input.h"
#include "output.h"

// The longest line that can be converted, its line feed included. A longer
// line is rejected like any line of the wrong shape.
constexpr size_t LONGEST = 65535;

// Converts the log from in to its end into out and returns the number of
// rejected complete lines: for a workbook, lines with a field longer than a
// cell holds too. Sets *unread when reading failed before the end; what was
// read up to then is converted all the same. Closes and ends nothing.
int64_t convert(input* in, output* out, bool* unread);

#endif
