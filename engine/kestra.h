// Kestra: the engine's public header. Each subsystem folder has one header that gathers its modules;
// this file includes them in dependency order, so callers include only <kestra.h>.
#ifndef KESTRA_H
#define KESTRA_H

#include "runtime/ksruntime.h"
#include "files/ksfiles.h"
#include "display/ksdisplay.h"
#include "texture/kstexture.h"
#include "render/ksrender.h"
#include "scene/ksscene.h"
#include "font/ksfont.h"

#endif
