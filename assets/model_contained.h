// model_contained.h - reads a model file the way loadModel (model.h) does,
// but in a program of its own, `model_reader`, beside the caller's
// executable, so that no file, whatever its bytes, can crash the caller, make
// it hang, or make it use more memory than the limit below.
//
// The model reader is started with posix_spawn (the caller may have threads
// by then) and its flattened model comes back through a pipe (model_wire.h).
// The caller watches it: a reader whose resident memory passes
// kModelReadMemoryBytes, or that has not finished after kModelReadSeconds of
// wall time, is killed, and the file is refused. The reader also limits its
// own address space to the same amount where the build allows it (not under
// AddressSanitizer or ThreadSanitizer, which reserve terabytes of address
// space), and its processor time. The resident-memory watch works in every
// build.
//
// Failure gives one line on standard error, `model: FILE: problem`, as
// loadModel does (the reader's own line where it wrote one), and leaves the
// record as it was. Warnings for textures pass through as the reader prints
// them. Call it from one thread at a time.
//
// Usage:
//     Model chair;
//     if (!loadModelContained("chair.glb", "", &chair)) { /* message printed */ }
#ifndef ASSETS_MODEL_CONTAINED_H
#define ASSETS_MODEL_CONTAINED_H

#include <string>

#include "model.h"

constexpr long long kModelReadMemoryBytes = 1LL << 30;  // the reader's resident memory, at most
constexpr double kModelReadSeconds = 10.0;               // wall time before the reader is stopped

// The limits above, or smaller ones for tests.
struct ModelReadLimits {
    long long memoryBytes = kModelReadMemoryBytes;
    double seconds = kModelReadSeconds;
};

bool loadModelContained(const std::string& path, const std::string& texturePathOrEmpty, Model* model,
                        const ModelReadLimits& limits = {});

// The model reader program this process starts: `model_reader` in the
// folder of the running executable.
std::string modelReaderPath();

#endif
