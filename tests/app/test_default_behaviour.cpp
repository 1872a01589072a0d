// Without any of its options, arrender must keep drawing and logging what it
// always did: the poses and pictures of a fixed sample clip are compared with
// the ones recorded in tests/data/baseline. The one default that changed on
// purpose, the bounded board search, is held to the poses of the
// full-resolution search it replaced (recorded before it).
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

namespace {

// Where a logged camera puts board corner (X, Y), pixels from the centre.
cv::Point2d projectCorner(const std::vector<std::string>& row, double X, double Y) {
    auto v = [&row](int column) { return std::atof(row[column].c_str()); };
    double f = v(2), xc = v(3) * X + v(4) * Y + v(12), yc = v(6) * X + v(7) * Y + v(13), zc = v(9) * X + v(10) * Y + v(14);
    return {f * xc / zc, f * yc / zc};
}

}  // namespace

TEST(DefaultBehaviour, BoundedSearchKeepsTheFullResolutionSearchsPoses) {
    const std::vector<std::string> names = {"frame", "found", "f",  "r1", "r2", "r3", "r4", "r5",
                                            "r6",    "r7",    "r8", "r9", "tx", "ty", "tz"};
    auto now = columns(kBaseline + "/poses.csv", names);
    auto before = columns(kBaseline + "/poses_before_bounded_search.csv", names);
    ASSERT_EQ(now.size(), before.size());
    for (size_t frame = 0; frame < now.size(); ++frame) {
        ASSERT_EQ(now[frame][1], before[frame][1]) << "frame " << frame << ": found in one search only";
        if (now[frame][1] != "1") continue;
        double largest = 0;
        for (int k = 0; k < 48; ++k)
            largest = std::max(largest, cv::norm(projectCorner(now[frame], k % 8, k / 8) -
                                                 projectCorner(before[frame], k % 8, k / 8)));
        EXPECT_LT(largest, 0.25) << "frame " << frame;  // measured: 0.10 px at most
    }
}
