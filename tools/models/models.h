// The five scene models and their shine texture, generated from code.
//
// Sizes suit the scenes: hoses stand 16 apart on a ring of radius 175 and stretch up to three
// times their height to the music, so a hose is slim and grows from y = 0; spheres, flowers and
// popcorn are scaled up to six times; tori stand 70 apart and widen up to seven times across.
#ifndef MARLIX_MODELS_H
#define MARLIX_MODELS_H

#include "kso_writer.h"

#include <stdint.h>
#include <string>
#include <vector>

struct ModelFile {
    std::string name;   // "hose.kso", ...
    KsoModel model;
};

// The shine texture every shiny material names.
#define MODEL_SHINE_TEXTURE "shine.jpg"
#define MODEL_SHINE_SIZE 128

std::vector<ModelFile> BuildModels(void);
// A test and demo model that draws through shaders ("shaded.kso"; no scene uses it): a ball of
// radius 40 whose material names a vertex shader with a declaration text ("ball light") and a
// pixel shader ("ball tint"), and a ring about it whose material names a vertex shader with the
// built-in declaration of one coordinate set ("ring light") and no pixel shader.
// Both vertex shaders light with the light vector (constant kind 33) and the material colour
// (kind 36); the ball's pixel shader multiplies by its constant SHADED_BALL_TINT.
ModelFile BuildShaderModel(void);
#define SHADED_BALL_TINT {1.0f, 0.5f, 1.0f, 1.0f}
// The shine picture, MODEL_SHINE_SIZE square, RGB rows top to bottom: a chrome-like sphere map
// (light sky above, a dark horizon band, warm ground, a crisp highlight up and to the left) that
// the materials tint with their colour.
std::vector<uint8_t> BuildShinePicture(void);

#endif
