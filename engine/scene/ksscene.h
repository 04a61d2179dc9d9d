// Scene graph: objects and segments, entities, cameras and lights, vertex and index buffers, object files.
#ifndef KSSCENE_H
#define KSSCENE_H

#include "Ksobject.h"
#include "Ksentity.h"
#include "Kscam.h"
#include "Kslight.h"
#include "kstnl.h"
#include "Kslfile.h"

#endif
