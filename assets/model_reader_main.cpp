// model_reader - reads one model file with loadModel (model.h) and writes the
// flattened model (model_wire.h) to standard output. The viewer and arrender
// start it for every model they load (model_contained.h), so that a hostile
// file ends this program, not theirs. It limits its own address space (where
// the build allows) and processor time before it reads a byte of the file.
//
// Usage:
//     model_reader --memory-bytes 1073741824 --seconds 10 -- chair.glb [texture.png] > chair.model
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "command_line.h"
#include "model.h"
#include "model_contained.h"
#include "model_wire.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kAddressSpaceLimitWorks = false;  // the sanitizers reserve terabytes of address space
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kAddressSpaceLimitWorks = false;
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif

void limitSelf(long long memoryBytes, double seconds) {
    if (kAddressSpaceLimitWorks) {
        // The libraries' own mappings come on top of what a model may take.
        rlimit space{};
        getrlimit(RLIMIT_AS, &space);
        const rlim_t wanted = rlim_t(memoryBytes) + (rlim_t(512) << 20);
        if (space.rlim_max == RLIM_INFINITY || wanted < space.rlim_max) space.rlim_cur = wanted;
        setrlimit(RLIMIT_AS, &space);
    }
    rlimit processor{};
    getrlimit(RLIMIT_CPU, &processor);
    const rlim_t wanted = rlim_t(std::ceil(seconds)) + 1;
    if (processor.rlim_max == RLIM_INFINITY || wanted < processor.rlim_max) processor.rlim_cur = wanted;
    setrlimit(RLIMIT_CPU, &processor);
}

bool writeWhole(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Reads one model file and writes it, flattened into triangle meshes and textures, to standard\n"
                 "output, for the viewer and arrender, which start it for every model they load and watch its\n"
                 "memory and time.",
                 "model_reader"};
    setUpCommandLine(&app);
    long long memoryBytes = kModelReadMemoryBytes;
    double seconds = kModelReadSeconds;
    std::string path, texture;
    requirePositive(app.add_option("--memory-bytes", memoryBytes, "address space to allow beyond the libraries'"));
    requirePositive(app.add_option("--seconds", seconds, "processor time to allow"));
    app.add_option("model", path, "the model file")->required();
    app.add_option("texture", texture, "a picture for every textured mesh instead of the model's own");
    const CommandLineOutcome outcome = parseCommandLine(&app, argc, argv);
    if (!outcome.run) return outcome.status;

    // Standard output carries the model alone: anything a library prints
    // goes to standard error instead.
    const int answer = dup(1);
    if (answer < 0 || dup2(2, 1) < 0) {
        std::fprintf(stderr, "model: %s: cannot set up the model reader\n", path.c_str());
        return 1;
    }
    limitSelf(memoryBytes, seconds);
    Model model;
    if (!loadModel(path, texture, &model)) return 1;
    if (!writeWhole(answer, encodeModel(model))) {
        std::fprintf(stderr, "model: %s: cannot hand the model over\n", path.c_str());
        return 1;
    }
    return 0;
}
