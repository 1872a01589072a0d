// Reading a model in a test with its standard error caught, for the tests
// that check a load's result and its one-line message together.
#ifndef TESTS_ASSETS_MODEL_LOAD_H
#define TESTS_ASSETS_MODEL_LOAD_H

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "model.h"

struct Loaded {
    bool ok;
    std::string err;
};

inline Loaded load(const std::string& path, Model* model, const std::string& texture = "") {
    testing::internal::CaptureStderr();
    const bool ok = loadModel(path, texture, model);
    return {ok, testing::internal::GetCapturedStderr()};
}

inline int lineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

#endif
