// The log as it is, and the choice between it and a decoder by the bytes a
// log begins with (input.h).
#include <string.h>

#include "ahead.h"
#include "descriptor.h"
#include "framing.h"
#include "input.h"

static long readplain(input* in, char* buf, size_t n) {
  if (in->held > 0 && n > 0) {
    size_t k = in->held < n ? in->held : n;
    memcpy(buf, in->head, k);
    memmove(in->head, in->head + k, in->held - k);
    in->held -= k;
    return (long)k;
  }
  return take(in, buf, n);
}

void plain(input* in, int fd) {
  in->read = readplain;
  in->end = nullptr;
  in->fd = fd;
  in->state = nullptr;
  in->held = 0;
  in->taken = 0;
  in->format = nullptr;
  in->why = because(NONE);
}

// A log in a format that is not read here fails at its first read.
static long readnone(input*, char*, size_t) {
  return -1;
}

bool openlog(input* in, int fd) {
  plain(in, fd);
  // A pipe may hand over one byte at a time. A read that fails here fails
  // again when the conversion reads, and is reported then.
  while (in->held < sizeof in->head) {
    long n = take(in, in->head + in->held, sizeof in->head - in->held);
    if (n <= 0)
      break;
    in->held += (size_t)n;
  }
  bool cut;
  const format* f = recognise(in->head, in->held, &cut);
  if (f == nullptr)
    return true;
  in->format = f->name;
  if (cut || f->library == nullptr) {
    // A compressed log that is not read here, or one cut within its magic.
    cause c = because(cut ? CUTMAGIC : f->readable ? NOTBUILT : NOTREAD);
    c.format = f->name;
    c.at = in->taken;
    note(&in->why, c);
    in->read = readnone;
    return true;
  }
  if (!framed(in, f, f->library)) {
    note(&in->why, because(NOMEMORY));
    return false;
  }
  ahead(in);
  return true;
}

void finish(input* in) {
  if (in->end)
    in->end(in);
  in->end = nullptr;
}
