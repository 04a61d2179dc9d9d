// Scene graph: objects and segments, entities, cameras and lights, vertex and index buffers, shaders,
// object files.
#ifndef KSSCENE_H
#define KSSCENE_H

#include "Ksobject.h"
#include "Ksentity.h"
#include "Kscam.h"
#include "Kslight.h"
#include "kstnl.h"
#include "ksvshader.h"
#include "kspshader.h"
#include "Kslfile.h"

#endif
