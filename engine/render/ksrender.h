// Materials and rendering: the material table and render-method ids, the render procedures, the
// render pipeline, polygon clipping and the depth sort of the deferred polygons.
#ifndef KSRENDER_H
#define KSRENDER_H

#include "Ksmat.h"
#include "Kssort.h"
#include "D3dmethod.h"
#include "D3drend.h"
#include "D3dclip.h"

#endif
