// model_wire.h - the Model record (model.h) as one flat run of bytes, the
// way the model reader program hands a model back to the viewer through a
// pipe. Little-endian, as the machine's own; both ends are this build.
//
// Decoding checks every count against the bytes that remain, so a short or
// damaged message is refused, never read past its end.
//
// Usage:
//     std::string bytes = encodeModel(model);
//     Model copy;
//     if (!decodeModel(bytes.data(), bytes.size(), &copy)) { /* damaged */ }
#ifndef ASSETS_MODEL_WIRE_H
#define ASSETS_MODEL_WIRE_H

#include <cstddef>
#include <string>

#include "model.h"

std::string encodeModel(const Model& model);

// False (and *model untouched) for bytes that are not one whole encoded model.
bool decodeModel(const char* bytes, std::size_t size, Model* model);

#endif
