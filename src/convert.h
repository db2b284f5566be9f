// The conversion of a whole log: the scheduler of its blocks.
#ifndef ZETTRIK_CONVERT_H
#define ZETTRIK_CONVERT_H

#include <stdint.h>

#include "input.h"
#include "output.h"

// Converts the log from in to its end into out and returns the number of
// rejected complete lines: for a workbook, lines with a field longer than a
// cell holds too. Where reading fails before the end, in->why says so, and
// what was read up to then is converted all the same; where there is no
// memory for the buffers, in->why says that and nothing is converted.
// Closes and ends nothing.
int64_t convert(input* in, output* out);

#endif
