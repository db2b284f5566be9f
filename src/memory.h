// Running out of memory ends the run in order, wherever it happens: every
// buffer is allocated with malloc() and checked where it is made, and its
// failure becomes a read or a write error with its cause. What is left are
// the standard library's strings and vectors, for names, messages and the
// workbook's small parts, a few kilobytes in a whole run. They cannot say
// "no memory" but by throwing, and a throw needs memory of its own that
// may not be there: the program would end with no word and the target cut.
//
// So a reserve of memory is kept back for them. When one of their
// allocations fails, the reserve is given back, the allocation is tried
// again, and the run is asked to end in order (starved()): the conversion
// reads no more, every target is ended whole, and the target's failure is
// told with its cause; the reserve is more than that ending needs. Should
// allocations fail twice more (one may be another thread's that failed at
// the same moment as the first), the run cannot go on: the last words are
// told (the messages made so far) and the process ends at once, exit
// status 0 as always, its targets as a killed run leaves them. (HACKING.md
// states this once for the whole program.)
#ifndef ZETTRIK_MEMORY_H
#define ZETTRIK_MEMORY_H

// Keeps the reserve back and takes over the standard library's failures;
// false where not even the reserve could be had.
bool keepreserve();

// Tells the last words now: where not even the reserve could be had.
void saylast();

// Gives the reserve back at the end of a run.
void freereserve();

// Whether an allocation has failed and the reserve been given back: the
// run then ends in order. Safe on any thread.
bool starved();

// The messages to be told should the run end at once, up to the point the
// run has come to: copied, cut at two kilobytes. Not safe while another
// thread may allocate; the run sets them before the conversion and after.
void lastwords(const char* text);

#endif
