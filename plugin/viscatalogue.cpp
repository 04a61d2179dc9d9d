// The eight scenes: their names (also the dialog's list, in this order), the animation blocks each
// one runs and its camera path. A combined scene is simply two blocks.
#include "vis.h"

#define BLOCK(n) (1u << ((n) - 1))

const VisSceneEntry visCatalogue[VIS_SCENE_COUNT] = {
    {"Flower Orbit", BLOCK(1) | BLOCK(2), 0},
    {"New Age", BLOCK(3), 0},
    {"Bouncy Balls", BLOCK(4), 1},
    {"Tuba", BLOCK(5), 0},
    {"Popcorn", BLOCK(6), 0},
    {"Tuba+Popcorn", BLOCK(5) | BLOCK(6), 0},
    {"Tuba+Bouncy Balls", BLOCK(4) | BLOCK(5), 0},
    {"Flowers+Popcorn", BLOCK(2) | BLOCK(6), 0},
};
