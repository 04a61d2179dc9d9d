// Runtime support of the engine: progress and error logs, the fatal-error path, the memory tracker
// and the math routines. Every other engine folder builds on these.
#ifndef KSRUNTIME_H
#define KSRUNTIME_H

#include "kslog.h"
#include "ksmemory.h"
#include "ksmath.h"

#endif
