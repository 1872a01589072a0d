// model_read_bench - what reading a model in the model reader program costs
// against reading it in the caller's own process: the median wall time of
// five reads of each file given, both ways, and the difference.
//
// Usage:
//     build/bin/model_read_bench /usr/share/assimp/models/glTF2/*/*.glb
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "model.h"
#include "model_contained.h"

namespace {

double medianMilliseconds(const std::function<bool()>& read, bool* ok) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        *ok = read() && *ok;
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "--help") {
        std::printf("Usage: model_read_bench MODEL...\nMedian of 5 reads in this process and through the model reader.\n");
        return argc < 2 ? 2 : 0;
    }
    std::printf("%-40s %10s %12s %12s %10s\n", "model", "triangles", "in-process", "contained", "extra");
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        Model model;
        bool ok = true;
        const double own = medianMilliseconds([&] { return loadModel(path, "", &model); }, &ok);
        const double contained = medianMilliseconds([&] { return loadModelContained(path, "", &model); }, &ok);
        std::string name = path.substr(path.find_last_of('/') + 1);
        std::printf("%-40s %10zu %9.1f ms %9.1f ms %7.1f ms%s\n", name.c_str(), modelTriangleCount(model), own,
                    contained, contained - own, ok ? "" : "  (failed)");
    }
    return 0;
}
