// Files that make Assimp itself fail: truncated PLY files that trip one of
// its internal checks (which would end the process) or send its PLY reader
// into an endless loop. Both must fail cleanly, with one line.
// Assimp abandons memory it allocated when the loader stops it, so this
// program runs without leak checking (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "model.h"
#include "model_files.h"

namespace fs = std::filesystem;

namespace {

const fs::path kModels = ASSIMP_MODELS_DIR;

std::string truncatedCopy(const fs::path& from, const std::string& folder, double fraction) {
    std::ifstream in(from, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string to = folder + "/" + std::to_string(static_cast<int>(fraction * 100)) + "_" + from.filename().string();
    std::ofstream(to, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() * fraction));
    return to;
}

}  // namespace

TEST(ModelFailures, FilesThatStopAssimpItselfFailWithOneLine) {
    const std::string folder = model_files::freshFolder("assimp_faults");
    const std::pair<std::string, const char*> cases[] = {
        {truncatedCopy(kModels / "PLY/cube.ply", folder, 0.7), "malformed (Assimp's check"},
        {truncatedCopy(kModels / "PLY/cube.ply", folder, 0.5), "truncated (read past its end)"},
        {truncatedCopy(kModels / "PLY/Wuson.ply", folder, 0.5), "truncated (read past its end)"},
    };
    for (const auto& [path, problem] : cases) {
        SCOPED_TRACE(path);
        Model model;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(loadModel(path, "", &model));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("model: " + path + ": ", 0), 0u) << err;
        EXPECT_NE(err.find(problem), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}
