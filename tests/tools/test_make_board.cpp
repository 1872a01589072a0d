// make_board through the real program: the page rasterised (pdftoppm) and
// the board found by the viewer's detector, the page sizes, a square's size
// in every format, the orientation, and the command line's refusals, which
// must leave no file behind.
#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kTool = MAKE_BOARD;
constexpr double kMmPerInch = 25.4;
constexpr int kRasterDpi = 100;
constexpr int kViewerDetectorFlags = cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_FAST_CHECK;
constexpr double kA4Width = 595.276, kA4Height = 841.89;  // points
constexpr double kLetterWidth = 612, kLetterHeight = 792;

struct ToolRun {
    int status;
    std::string out, err;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double pixelsPerMm(int dpi) { return dpi / kMmPerInch; }

// The board as the detector sees it, with sub-pixel corners, in an upright page.
struct FoundBoard {
    bool found = false;
    cv::Size pattern;
    std::vector<cv::Point2f> corners;
    double squareAlongRows = 0, squareAlongColumns = 0;  // mean corner spacing, pixels
    cv::Rect2d squares;                                  // outer edges of the squares
};

FoundBoard findBoard(const cv::Mat& grey, cv::Size pattern) {
    FoundBoard b;
    b.pattern = pattern;
    b.found = cv::findChessboardCorners(grey, pattern, b.corners, kViewerDetectorFlags);
    if (!b.found) return b;
    cv::cornerSubPix(grey, b.corners, cv::Size(5, 5), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 50, 0.001));
    const int w = pattern.width, h = pattern.height;
    for (int r = 0; r < h; ++r) b.squareAlongRows += cv::norm(b.corners[r * w + w - 1] - b.corners[r * w]) / (w - 1) / h;
    for (int c = 0; c < w; ++c)
        b.squareAlongColumns += cv::norm(b.corners[(h - 1) * w + c] - b.corners[c]) / (h - 1) / w;
    cv::Rect2f inner = cv::boundingRect(b.corners);
    const double s = b.squareAlongRows;
    b.squares = cv::Rect2d(inner.x - s, inner.y - s, inner.width + 2 * s, inner.height + 2 * s);
    return b;
}

bool darkAt(const cv::Mat& grey, double x, double y) { return grey.at<uchar>(cvRound(y), cvRound(x)) < 64; }

// Grey level of the four corner squares' centres, clockwise from the top left.
std::vector<bool> cornerSquaresDark(const cv::Mat& grey, const FoundBoard& b) {
    const double half = b.squareAlongRows / 2;
    const cv::Rect2d& q = b.squares;
    return {darkAt(grey, q.x + half, q.y + half), darkAt(grey, q.x + q.width - half, q.y + half),
            darkAt(grey, q.x + q.width - half, q.y + q.height - half), darkAt(grey, q.x + half, q.y + q.height - half)};
}

class MakeBoard : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "make-board-XXXXXX").string();
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    ToolRun run(const std::string& arguments) {
        const fs::path out = dir / ".stdout", err = dir / ".stderr";
        std::string command = kTool + " " + arguments + " >" + out.string() + " 2>" + err.string();
        int status = std::system(command.c_str());
        ToolRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    // Files the tool left in the folder.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    cv::Mat rasterise(const std::string& pdf, int dpi) {
        const fs::path prefix = dir / "raster";
        std::string command = "pdftoppm -r " + std::to_string(dpi) + " -gray -png -singlefile " + (dir / pdf).string() +
                              " " + prefix.string();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        cv::Mat grey = cv::imread(prefix.string() + ".png", cv::IMREAD_GRAYSCALE);
        fs::remove(prefix.string() + ".png");
        return grey;
    }

    // The first page's size in points, from pdfinfo.
    cv::Size2d pageSize(const std::string& pdf) {
        const fs::path info = dir / ".info";
        std::string command = "pdfinfo " + (dir / pdf).string() + " >" + info.string();
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::string text = readText(info);
        fs::remove(info);
        size_t at = text.find("Page size:");
        cv::Size2d size;
        if (at == std::string::npos || std::sscanf(text.c_str() + at, "Page size: %lf x %lf", &size.width, &size.height) != 2)
            ADD_FAILURE() << "no page size in: " << text;
        return size;
    }

    fs::path dir;
};

void expectSquareSide(const FoundBoard& b, double mm, int dpi) {
    EXPECT_NEAR(b.squareAlongRows, mm * pixelsPerMm(dpi), 0.5);
    EXPECT_NEAR(b.squareAlongColumns, mm * pixelsPerMm(dpi), 0.5);
}

// Centred on the page, with at least one square of white round the squares.
void expectCentredWithMargin(const FoundBoard& b, const cv::Mat& page) {
    const cv::Rect2d& q = b.squares;
    EXPECT_NEAR(q.x + q.width / 2, page.cols / 2.0, 1.0);
    EXPECT_NEAR(q.y + q.height / 2, page.rows / 2.0, 1.0);
    const double square = b.squareAlongRows;
    EXPECT_GE(q.x, square - 1);
    EXPECT_GE(q.y, square - 1);
    EXPECT_GE(page.cols - (q.x + q.width), square - 1);
    EXPECT_GE(page.rows - (q.y + q.height), square - 1);
    cv::Rect top(0, 0, page.cols, static_cast<int>(q.y - 2));
    EXPECT_EQ(cv::countNonZero(page(top) < 250), 0) << "marks above the squares";
}

std::string oneLine(const std::string& text) {
    size_t newline = text.find('\n');
    return newline == std::string::npos ? text : text.substr(0, newline);
}

}  // namespace

// ---- The page -----------------------------------------------------------

TEST_F(MakeBoard, DefaultIsAnA4PortraitPdfOf8x6CornersWith19mmSquaresTheDetectorFinds) {
    ToolRun r = run("-o " + (dir / "board.pdf").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files(), std::vector<std::string>{"board.pdf"}) << "a temporary file was left";
    cv::Size2d points = pageSize("board.pdf");
    EXPECT_NEAR(points.width, kA4Width, 0.01);
    EXPECT_NEAR(points.height, kA4Height, 0.01);

    cv::Mat page = rasterise("board.pdf", kRasterDpi);
    ASSERT_FALSE(page.empty());
    FoundBoard b = findBoard(page, {8, 6});
    ASSERT_TRUE(b.found);
    EXPECT_EQ(b.corners.size(), 48u);
    expectSquareSide(b, 19, kRasterDpi);
    expectCentredWithMargin(b, page);
    EXPECT_EQ(cornerSquaresDark(page, b), std::vector<bool>(4, true)) << "9 x 7 squares: all corners black";
    EXPECT_FALSE(darkAt(page, b.squares.x + 1.5 * b.squareAlongRows, b.squares.y + b.squareAlongRows / 2));
    // The caption lies under the squares, in the margin.
    cv::Rect below(0, static_cast<int>(b.squares.br().y + 2), page.cols,
                   static_cast<int>(b.squareAlongRows - 4));
    EXPECT_GT(cv::countNonZero(page(below) < 128), 50) << "no caption under the squares";
}

TEST_F(MakeBoard, LetterPageHoldsTheDefaultBoardCentred) {
    ToolRun r = run("--paper letter -o " + (dir / "board.pdf").string());
    ASSERT_EQ(r.status, 0) << r.err;
    cv::Size2d points = pageSize("board.pdf");
    EXPECT_NEAR(points.width, kLetterWidth, 0.01);
    EXPECT_NEAR(points.height, kLetterHeight, 0.01);
    cv::Mat page = rasterise("board.pdf", kRasterDpi);
    FoundBoard b = findBoard(page, {8, 6});
    ASSERT_TRUE(b.found);
    expectSquareSide(b, 19, kRasterDpi);
    expectCentredWithMargin(b, page);
}

// 10 x 7 squares: the black corner squares are both on the left, which tells
// the detector where the first corner is: at the printed top left.
TEST_F(MakeBoard, WideBoardTurnsThePageToLandscapeAndStartsAtTheBlackCorner) {
    ToolRun r = run("--board 9x6 --square 20 -o " + (dir / "board.pdf").string());
    ASSERT_EQ(r.status, 0) << r.err;
    cv::Size2d points = pageSize("board.pdf");
    EXPECT_NEAR(points.width, kA4Height, 0.01);
    EXPECT_NEAR(points.height, kA4Width, 0.01);
    cv::Mat page = rasterise("board.pdf", kRasterDpi);
    FoundBoard b = findBoard(page, {9, 6});
    ASSERT_TRUE(b.found);
    EXPECT_EQ(b.corners.size(), 54u);
    expectSquareSide(b, 20, kRasterDpi);
    expectCentredWithMargin(b, page);
    EXPECT_EQ(cornerSquaresDark(page, b), (std::vector<bool>{true, false, false, true}));
    EXPECT_NEAR(b.corners[0].x, b.squares.x + b.squareAlongRows, 1.0);
    EXPECT_NEAR(b.corners[0].y, b.squares.y + b.squareAlongRows, 1.0);
}

TEST_F(MakeBoard, PortraitIsKeptWhenTheBoardFitsBothWays) {
    ToolRun r = run("--board 9x6 --square 15 -o " + (dir / "board.pdf").string());
    ASSERT_EQ(r.status, 0) << r.err;
    cv::Size2d points = pageSize("board.pdf");
    EXPECT_NEAR(points.width, kA4Width, 0.01);
    EXPECT_NEAR(points.height, kA4Height, 0.01);
    FoundBoard b = findBoard(rasterise("board.pdf", kRasterDpi), {9, 6});
    ASSERT_TRUE(b.found);
    expectSquareSide(b, 15, kRasterDpi);
}

// W x H mm is W wide and H high, whichever way the board would fit; a board
// that fits such a page only turned is refused.
TEST_F(MakeBoard, PaperGivenInMillimetresIsUsedAsGiven) {
    ToolRun r = run("--board 9x6 --square 25 --paper 400x300mm -o " + (dir / "board.pdf").string());
    ASSERT_EQ(r.status, 0) << r.err;
    cv::Size2d points = pageSize("board.pdf");
    EXPECT_NEAR(points.width, 400 * 72 / kMmPerInch, 0.01);
    EXPECT_NEAR(points.height, 300 * 72 / kMmPerInch, 0.01);
    FoundBoard b = findBoard(rasterise("board.pdf", 50), {9, 6});
    ASSERT_TRUE(b.found);
    expectSquareSide(b, 25, 50);

    r = run("--square 18 --paper 250x200mm -o " + (dir / "wide.pdf").string());  // fits either way
    ASSERT_EQ(r.status, 0) << r.err;
    points = pageSize("wide.pdf");
    EXPECT_NEAR(points.width, 250 * 72 / kMmPerInch, 0.01);
    EXPECT_NEAR(points.height, 200 * 72 / kMmPerInch, 0.01);

    r = run("--board 9x6 --square 25 --paper 250x400mm -o " + (dir / "tall.pdf").string());  // 300 mm needed across
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("is too small"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "tall.pdf"));
}

// ---- The other formats ----------------------------------------------------

TEST_F(MakeBoard, SvgIsInMillimetresWithSquaresOfTheGivenSide) {
    ToolRun r = run("--square 12.5 -o " + (dir / "board.svg").string());
    ASSERT_EQ(r.status, 0) << r.err;
    std::string svg = readText(dir / "board.svg");
    EXPECT_NE(svg.find("width=\"210mm\" height=\"297mm\" viewBox=\"0 0 210 297\""), std::string::npos);
    // The black squares are one path of closed rectangles.
    size_t at = svg.find("fill:rgb(0%,0%,0%)");
    ASSERT_NE(at, std::string::npos);
    at = svg.find("d=\"", at);
    ASSERT_NE(at, std::string::npos);
    std::string path = svg.substr(at + 3, svg.find('"', at + 3) - at - 3);
    int squares = 0;
    const char* p = path.c_str();
    double x[4], y[4];
    int used = 0;
    while (std::sscanf(p, " M %lf %lf L %lf %lf L %lf %lf L %lf %lf Z%n", &x[0], &y[0], &x[1], &y[1], &x[2], &y[2],
                       &x[3], &y[3], &used) == 8) {
        EXPECT_NEAR(std::fabs(x[1] - x[0]), 12.5, 1e-6);
        EXPECT_NEAR(std::fabs(y[2] - y[1]), 12.5, 1e-6);
        ++squares;
        p += used;
    }
    EXPECT_EQ(squares, 32) << "9 x 7 squares, 32 of them black";
}

TEST_F(MakeBoard, PngHasThePageSizeAtItsResolutionAndCrispSquares) {
    ToolRun r = run("--board 9x6 --square 15 --dpi 150 -o " + (dir / "board.png").string());
    ASSERT_EQ(r.status, 0) << r.err;
    cv::Mat page = cv::imread((dir / "board.png").string(), cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(page.cols, std::lround(210 * pixelsPerMm(150)));
    EXPECT_EQ(page.rows, std::lround(297 * pixelsPerMm(150)));
    FoundBoard b = findBoard(page, {9, 6});
    ASSERT_TRUE(b.found);
    expectSquareSide(b, 15, 150);
    expectCentredWithMargin(b, page);
    cv::Mat squares = page(cv::Rect(b.squares) & cv::Rect(0, 0, page.cols, page.rows));
    EXPECT_EQ(cv::countNonZero((squares > 0) & (squares < 255)), 0) << "square edges between pixels";

    // pHYs: pixels per metre, unit 1 (the metre).
    std::string png = readText(dir / "board.png");
    size_t at = png.find("pHYs");
    ASSERT_NE(at, std::string::npos);
    auto bigEndian = [&](size_t i) {
        return (static_cast<unsigned char>(png[i]) << 24 | static_cast<unsigned char>(png[i + 1]) << 16 |
                static_cast<unsigned char>(png[i + 2]) << 8 | static_cast<unsigned char>(png[i + 3]));
    };
    EXPECT_NEAR(bigEndian(at + 4) * kMmPerInch / 1000, 150, 0.05);
    EXPECT_EQ(bigEndian(at + 4), bigEndian(at + 8));
    EXPECT_EQ(png[at + 12], 1);
}

// ---- The command line -------------------------------------------------------

TEST_F(MakeBoard, RefusalsAreOneLineWithoutAFile) {
    const std::string pdf = " -o " + (dir / "board.pdf").string(), png = " -o " + (dir / "board.png").string();
    const std::vector<std::string> refused = {
        "--board 9x6 --square 25" + pdf,  // 300 x 225 mm with its margin
        "--board 9x6 --square 25 --paper letter" + pdf,
        "--square 0" + pdf, "--square -5" + pdf, "--square abc" + pdf, "--square 1" + pdf, "--square 600" + pdf,
        "--square nan" + pdf, "--square inf" + pdf,
        "--paper a5" + pdf, "--paper 0x297mm" + pdf, "--paper -210x297mm" + pdf, "--paper 210x297" + pdf,
        "--paper x297mm" + pdf, "--paper 6000x297mm" + pdf,
        "--dpi 10" + png, "--dpi 5000" + png, "--dpi 150.5" + png, "--dpi 150" + pdf,
        "--paper 1000x1000mm --dpi 600" + png,  // 558 million pixels
        "--paper 3000x50mm --square 5 --dpi 300" + png,  // 35433 pixels wide
        "--board 8x8" + pdf, "--board 8" + pdf,
        "-o " + (dir / "board.jpg").string(), "-o " + (dir / "board").string(), "", "--colour red" + pdf,
    };
    for (const std::string& arguments : refused) {
        ToolRun r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err.rfind("make_board: ", 0), 0u) << arguments << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << arguments << ": " << r.err;
        EXPECT_TRUE(files().empty()) << arguments;
        for (const std::string& name : files()) fs::remove(dir / name);
    }
}

TEST_F(MakeBoard, TooBigBoardSaysWhatItNeedsAndWhatThePaperHas) {
    ToolRun r = run("--board 9x6 --square 25 -o " + (dir / "board.pdf").string());
    EXPECT_NE(r.err.find("300 x 225 mm"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("A4 is 210 x 297 mm"), std::string::npos) << r.err;
}

TEST_F(MakeBoard, FailedRunLeavesAnEarlierFileAsItWas) {
    std::ofstream(dir / "board.pdf") << "earlier";
    EXPECT_NE(run("--square 0 -o " + (dir / "board.pdf").string()).status, 0);
    EXPECT_EQ(readText(dir / "board.pdf"), "earlier");
    ToolRun missing = run("-o " + (dir / "no-such-folder" / "board.pdf").string());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
    EXPECT_NE(missing.err.find("no-such-folder/board.pdf"), std::string::npos) << missing.err;
    EXPECT_EQ(files(), std::vector<std::string>{"board.pdf"});
}

TEST_F(MakeBoard, HelpAndVersion) {
    ToolRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--output", "--board", "--square", "--paper", "--dpi", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    ToolRun version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(oneLine(version.out).rfind("make_board ", 0), 0u) << version.out;
}
