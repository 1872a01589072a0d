// Without any of its options, arrender must keep drawing and logging what it
// always did: the poses and pictures of a fixed sample clip are compared with
// the ones recorded in tests/data/baseline when the viewer had no options.
//
// The clip is rendered by the fixture (make_board_video --frames 60
// --samples 2), the same bytes in every build.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <opencv2/imgcodecs.hpp>

#include "viewer_harness.h"

namespace {

const std::string kRenderer = ARRENDER_PATH;
const std::string kClip = BASELINE_CLIP;
const std::string kBaseline = BASELINE_FOLDER;

std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

std::string scratchFolder() {
    char folder[] = "/tmp/baseline-test-XXXXXX";
    return mkdtemp(folder) ? folder : "";
}

int render(const std::vector<std::string>& arguments, ChildProcess* child) {
    std::vector<std::string> argv = {kRenderer};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    *child = launch(argv, "", folderOf(kRenderer));
    return waitForExit(child, 300);
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    return fields;
}

// The rows of a CSV as maps from column name to text, for the given columns.
std::vector<std::vector<std::string>> columns(const std::string& path, const std::vector<std::string>& names) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    std::vector<std::string> header = split(line);
    std::vector<size_t> at;
    for (const std::string& name : names) {
        size_t i = std::find(header.begin(), header.end(), name) - header.begin();
        EXPECT_LT(i, header.size()) << path << " has no column " << name;
        at.push_back(i);
    }
    std::vector<std::vector<std::string>> rows;
    while (std::getline(in, line)) {
        std::vector<std::string> fields = split(line), row;
        for (size_t i : at) row.push_back(i < fields.size() ? fields[i] : "");
        rows.push_back(row);
    }
    return rows;
}

void expectSamePicture(const std::string& path, const std::string& reference) {
    cv::Mat picture = cv::imread(path), expected = cv::imread(reference);
    ASSERT_FALSE(picture.empty()) << path;
    ASSERT_EQ(picture.size(), expected.size());
    cv::Mat difference;
    cv::absdiff(picture, expected, difference);
    EXPECT_EQ(cv::countNonZero(difference.reshape(1)), 0) << path << " differs from " << reference;
}

}  // namespace

TEST(DefaultBehaviour, PosesAndPicturesAreThoseOfTheViewerWithoutOptions) {
    std::string folder = scratchFolder();
    ChildProcess child;
    ASSERT_EQ(render({kClip, "--poses", folder + "/poses.csv", "--snapshot", "20:" + folder + "/frame20.png"}, &child),
              0)
        << readFile(child.stderrPath);
    std::ifstream in(kBaseline + "/poses.csv");
    std::string header;
    std::getline(in, header);
    std::vector<std::string> names = split(header);
    auto expected = columns(kBaseline + "/poses.csv", names);
    auto actual = columns(folder + "/poses.csv", names);
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t row = 0; row < expected.size(); ++row) EXPECT_EQ(actual[row], expected[row]) << "frame " << row;
    expectSamePicture(folder + "/frame20.png", kBaseline + "/frame20.png");

    ASSERT_EQ(render({kClip, "--keys", "0:O,0:S,0:S,0:Left", "--snapshot", "50:" + folder + "/keys50.png"}, &child),
              0);
    expectSamePicture(folder + "/keys50.png", kBaseline + "/keys_frame50.png");
    std::system(("rm -rf " + folder).c_str());
}
