// Materials and rendering: the material table and render-method ids, and the depth sort of the
// deferred polygons.
#ifndef KSRENDER_H
#define KSRENDER_H

#include "Ksmat.h"
#include "Kssort.h"

#endif
