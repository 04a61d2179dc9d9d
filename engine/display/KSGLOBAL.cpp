// The engine state block and the table of calls into later modules.
#define KS_MODULE "KSGLOBAL"
#include "kestra.h"

KSGlobal ksGlobal;
KSEngineHooks ksHooks;
