// make_assets' command line through the real program: the shared help and
// version, one-line refusals with status 2, and its one folder argument.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status;
    std::string out, err;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class MakeAssets : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "make-assets-XXXXXX").string();
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    ToolRun run(const std::string& arguments) {
        const fs::path out = dir.string() + ".stdout", err = dir.string() + ".stderr";
        std::string command = std::string(MAKE_ASSETS) + " " + arguments + " >" + out.string() + " 2>" + err.string();
        int status = std::system(command.c_str());
        ToolRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    fs::path dir;
};

}  // namespace

TEST_F(MakeAssets, WritesTheMeshAndTextureIntoTheFolder) {
    ToolRun r = run(dir.string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GT(fs::file_size(dir / "spaceship.3DS"), 0u);
    EXPECT_GT(fs::file_size(dir / "spaceshiptexture.bmp"), 512u * 512 * 3);
}

TEST_F(MakeAssets, RefusalsAreOneLineWithStatus2) {
    for (const std::string& arguments : {std::string(), dir.string() + " " + dir.string(), std::string("--colour red")}) {
        ToolRun r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err.rfind("make_assets: ", 0), 0u) << arguments << ": " << r.err;
        EXPECT_NE(r.err.find("(see --help)"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << arguments << ": " << r.err;
    }
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(MakeAssets, UnwritableFolderIsOneLineWithStatus1) {
    ToolRun r = run((dir / "missing").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("missing/spaceship.3DS"), std::string::npos) << r.err;
}

TEST_F(MakeAssets, HelpAndVersion) {
    ToolRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: make_assets [OPTIONS] FOLDER"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--version"), std::string::npos);
    ToolRun version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("make_assets ", 0), 0u) << version.out;
}
