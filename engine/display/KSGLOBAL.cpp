// The engine state block.
#define KS_MODULE "KSGLOBAL"
#include "kestra.h"

KSGlobal ksGlobal;
