// camera_file.cpp - reading and writing camera files, and OpenCV's lens model.
//
// Both readers turn a file into the same list of named scalars and matrices;
// one interpretation then finds the camera in it. yaml-cpp reads YAML and
// JSON (OpenCV's storage files and ROS camera-info files alike), tinyxml2
// reads OpenCV's XML. cv::FileStorage only writes.
#include "camera_file.h"

#include <opencv2/core.hpp>
#include <tinyxml2.h>
#include <yaml-cpp/yaml.h>

#include "atomic_file.h"
#include "text_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <map>
#include <vector>

namespace {

constexpr long kMaxFileBytes = 4L << 20;
constexpr int kMaxPictureSide = 65536;                       // pixels
constexpr double kAspectTolerance = 0.01;                    // relative
constexpr double kMinFocalPerSide = 0.05, kMaxFocalPerSide = 100.0;  // times the larger side
constexpr int kMaxNesting = 32, kMaxIndent = 256;            // levels; characters of a line's indentation

// Newton's method for the inverse of the lens model.
constexpr int kMaxNewtonSteps = 60;
constexpr double kNewtonStepTolerance = 1e-15;   // normalised units, relative to 1 + |x|
constexpr double kInverseResidual = 1e-13;       // normalised units, relative to 1 + |xd|
constexpr int kFoldChecks = 8;                   // points between the centre and the result

const char* const kCoefficientNames[kMaxDistortionCoefficients] = {"k1", "k2", "p1", "p2",
                                                                   "k3", "k4", "k5", "k6"};

struct Matrix {
    int rows = 0, cols = 0;
    std::vector<double> values;  // row by row; its size may disagree with rows x cols
    bool numeric = true;         // false: some entry is not a number
};

// What a camera file holds, by name, whatever its format.
struct Fields {
    std::map<std::string, std::string> scalars;
    std::map<std::string, Matrix> matrices;
};

bool parseDouble(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (*end != '\0') {
        // YAML's spellings of the special values.
        if (text == ".nan" || text == ".NaN" || text == ".NAN" || text == ".Nan") v = NAN;
        else if (text == ".inf" || text == ".Inf" || text == "+.inf") v = INFINITY;
        else if (text == "-.inf" || text == "-.Inf") v = -INFINITY;
        else return false;
    }
    *value = v;
    return true;
}

bool parseInt(const std::string& text, int* value) {
    double v;
    if (!parseDouble(text, &v) || !(std::fabs(v) <= 1e9) || v != std::floor(v)) return false;
    *value = (int)v;
    return true;
}

// ---------------------------------------------------------------- readers

bool yamlScalar(const YAML::Node& node, std::string* text) {
    if (!node || !node.IsScalar()) return false;
    *text = node.Scalar();
    return true;
}

Matrix yamlMatrix(const YAML::Node& node) {
    Matrix m;
    YAML::Node data = node.IsSequence() ? node : node["data"];
    std::string text;
    double v;
    if (data.IsSequence())
        for (const YAML::Node& value : data) {
            if (yamlScalar(value, &text) && parseDouble(text, &v)) m.values.push_back(v);
            else m.numeric = false;
        }
    else m.numeric = false;
    if (node.IsSequence()) {
        m.rows = 1, m.cols = (int)m.values.size();
    } else {
        m.rows = yamlScalar(node["rows"], &text) && parseInt(text, &m.rows) ? m.rows : -1;
        m.cols = yamlScalar(node["cols"], &text) && parseInt(text, &m.cols) ? m.cols : -1;
    }
    return m;
}

// YAML and JSON, OpenCV's storage files among them: yaml-cpp reads them all
// once OpenCV's own directive line (%YAML:1.0, not YAML's %YAML 1.2) is gone.
// `kind` names the file in a refusal.
bool readYaml(const std::string& text, const char* kind, Fields* fields, std::string* problem) {
    try {
        YAML::Node root = YAML::Load(text);
        if (!root.IsMap()) return *problem = std::string("not a YAML map of fields"), false;
        for (const auto& item : root) {
            std::string name;
            if (!yamlScalar(item.first, &name)) continue;
            const YAML::Node& node = item.second;
            if (node.IsScalar()) fields->scalars[name] = node.Scalar();
            else if (node.IsSequence() || (node.IsMap() && node["data"])) fields->matrices[name] = yamlMatrix(node);
        }
        return true;
    } catch (const YAML::Exception& e) {
        *problem = std::string("not ") + kind + " (" + e.msg + ")";
        return false;
    } catch (const std::exception& e) {
        *problem = std::string("not ") + kind + " (" + e.what() + ")";
        return false;
    }
}

// An element's text split as OpenCV's XML writer joins it: numbers and
// words by white space, a quoted string as one.
std::vector<std::string> xmlTokens(const char* text) {
    std::vector<std::string> tokens;
    for (const char* p = text ? text : ""; *p != '\0';) {
        if (std::isspace((unsigned char)*p)) {
            ++p;
        } else if (*p == '"') {
            const char* end = std::strchr(p + 1, '"');
            if (end == nullptr) end = p + std::strlen(p);
            tokens.emplace_back(p + 1, end);
            p = *end == '"' ? end + 1 : end;
        } else {
            const char* end = p;
            while (*end != '\0' && !std::isspace((unsigned char)*end)) ++end;
            tokens.emplace_back(p, end);
            p = end;
        }
    }
    return tokens;
}

void addXmlValues(const char* text, Matrix* m) {
    double v;
    for (const std::string& token : xmlTokens(text)) {
        if (parseDouble(token, &v)) m->values.push_back(v);
        else m->numeric = false;
    }
}

int xmlInt(const tinyxml2::XMLElement* element) {
    std::vector<std::string> tokens = xmlTokens(element ? element->GetText() : nullptr);
    int value;
    return tokens.size() == 1 && parseInt(tokens[0], &value) ? value : -1;
}

// One field of an OpenCV XML file: a scalar, a sequence (space-separated
// text or <_> elements) or a matrix (rows, cols and data).
void readXmlField(const tinyxml2::XMLElement* node, Fields* fields) {
    const std::string name = node->Name();
    const tinyxml2::XMLElement* child = node->FirstChildElement();
    if (child == nullptr) {
        std::vector<std::string> tokens = xmlTokens(node->GetText());
        if (tokens.size() == 1) {
            fields->scalars[name] = tokens[0];
        } else if (tokens.size() > 1) {
            Matrix m;
            addXmlValues(node->GetText(), &m);
            m.rows = 1, m.cols = (int)m.values.size();
            fields->matrices[name] = m;
        }
        return;
    }
    Matrix m;
    if (const tinyxml2::XMLElement* data = node->FirstChildElement("data")) {
        if (data->FirstChildElement() != nullptr) m.numeric = false;
        addXmlValues(data->GetText(), &m);
        m.rows = xmlInt(node->FirstChildElement("rows"));
        m.cols = xmlInt(node->FirstChildElement("cols"));
    } else {
        for (; child != nullptr; child = child->NextSiblingElement()) {
            if (std::strcmp(child->Name(), "_") != 0) return;  // a map of its own: not a camera's field
            if (child->FirstChildElement() != nullptr) m.numeric = false;
            addXmlValues(child->GetText(), &m);
        }
        m.rows = 1, m.cols = (int)m.values.size();
    }
    fields->matrices[name] = m;
}

bool readXml(const std::string& text, Fields* fields, std::string* problem) {
    tinyxml2::XMLDocument document;
    if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS)
        return *problem = std::string("not a readable OpenCV storage file (") + document.ErrorStr() + ")", false;
    const tinyxml2::XMLElement* root = document.RootElement();
    if (root == nullptr || std::strcmp(root->Name(), "opencv_storage") != 0)
        return *problem = "not an OpenCV storage file (no <opencv_storage>)", false;
    for (const tinyxml2::XMLElement* node = root->FirstChildElement(); node != nullptr;
         node = node->NextSiblingElement())
        readXmlField(node, fields);
    return true;
}

// Both YAML and XML parsers recurse once per level of nesting and overflow
// the stack on a file nested some 50,000 deep; a camera file is nested three
// deep. OpenCV's own parsers are not used for reading: they crash on damaged
// files (a truncated XML declaration is enough).
bool readFields(const std::string& path, Fields* fields, std::string* problem) {
    std::string text;
    if (!readTextFile(path, kMaxFileBytes, "a camera file", &text, problem)) return false;
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return *problem = "no fields", false;
    if (text.find('\0') != std::string::npos) return *problem = "not a YAML, JSON or XML file: it holds a NUL byte", false;
    const bool xml = text[first] == '<';
    if (nestedTooDeep(text, xml, kMaxNesting, kMaxIndent))
        return *problem = "nested too deeply for a camera file", false;
    if (xml) return readXml(text, fields, problem);
    if (text.compare(first, 6, "%YAML:") == 0) {
        // Blank the directive line, so that line numbers in messages stay the file's.
        size_t end = text.find('\n', first);
        text.replace(first, (end == std::string::npos ? text.size() : end) - first, "");
        return readYaml(text, "a readable OpenCV storage file", fields, problem);
    }
    if (text[first] == '{') return readYaml(text, "a readable OpenCV storage file", fields, problem);
    return readYaml(text, "a YAML file", fields, problem);
}

// ---------------------------------------------------------------- interpretation

// The first of the names present; null when none is.
const std::string* findScalar(const Fields& f, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        auto it = f.scalars.find(name);
        if (it != f.scalars.end()) return &it->second;
    }
    return nullptr;
}

const Matrix* findMatrix(const Fields& f, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        auto it = f.matrices.find(name);
        if (it != f.matrices.end()) return &it->second;
    }
    return nullptr;
}

bool rejectFisheye(const Fields& f, std::string* problem) {
    int fisheye = 0;
    const std::string* flag = findScalar(f, {"fisheye_model"});
    if (flag && parseInt(*flag, &fisheye) && fisheye != 0)
        return *problem = "a fisheye model (fisheye_model: 1), which is not supported", false;
    const std::string* model = findScalar(f, {"distortion_model"});
    if (!model || *model == "plumb_bob" || *model == "rational_polynomial") return true;
    if (*model == "equidistant" || *model == "fisheye")
        return *problem = "a fisheye model (distortion_model: " + *model + "), which is not supported", false;
    return *problem = "distortion_model '" + *model + "' is not supported (plumb_bob or rational_polynomial)", false;
}

bool readSize(const Fields& f, CameraModel* m, std::string* problem) {
    const std::string* width = findScalar(f, {"image_width", "image_Width"});
    const std::string* height = findScalar(f, {"image_height", "image_Height"});
    if (!width) return *problem = "no image_width", false;
    if (!height) return *problem = "no image_height", false;
    if (!parseInt(*width, &m->width) || !parseInt(*height, &m->height) || m->width < 1 || m->height < 1 ||
        m->width > kMaxPictureSide || m->height > kMaxPictureSide)
        return *problem = "image size " + *width + " x " + *height + " is not a picture size", false;
    return true;
}

bool readCameraMatrix(const Fields& f, CameraModel* m, std::string* problem) {
    const Matrix* k = findMatrix(f, {"camera_matrix", "Camera_Matrix"});
    if (!k) return *problem = "no camera_matrix", false;
    if (!k->numeric || k->rows != 3 || k->cols != 3 || k->values.size() != 9)
        return *problem = "camera_matrix is not a 3 x 3 matrix of numbers", false;
    const std::vector<double>& K = k->values;
    if (K[1] != 0.0) return *problem = "camera_matrix has a skew, which is not supported", false;
    if (K[3] != 0.0 || K[6] != 0.0 || K[7] != 0.0 || K[8] != 1.0)
        return *problem = "camera_matrix is not a camera matrix (rows fx 0 cx, 0 fy cy, 0 0 1)", false;
    m->fx = K[0], m->cx = K[2], m->fy = K[4], m->cy = K[5];
    return true;
}

bool readDistortion(const Fields& f, CameraModel* m, std::string* problem) {
    const Matrix* d = findMatrix(f, {"distortion_coefficients", "Distortion_Coefficients"});
    if (!d) return *problem = "no distortion_coefficients", false;
    size_t n = d->values.size();
    bool vector = d->rows == 1 || d->cols == 1;
    if (!d->numeric || !vector || (size_t)d->rows * (size_t)d->cols != n)
        return *problem = "distortion_coefficients is not a row or column of numbers", false;
    if (n != 4 && n != 5 && n != 8)
        return *problem = "distortion_coefficients has " + std::to_string(n) + " values; 4, 5 or 8 are supported",
               false;
    for (int i = 0; i < kMaxDistortionCoefficients; ++i) m->distortion[i] = i < (int)n ? d->values[i] : 0.0;
    m->distortionCount = (int)n;
    return true;
}

// avg_reprojection_error must make sense when present; the other
// informational fields are kept where readable and ignored otherwise.
bool readInformation(const Fields& f, CameraModel* m, std::string* problem) {
    const std::string* rms = findScalar(f, {"avg_reprojection_error", "Avg_Reprojection_Error"});
    if (rms && (!parseDouble(*rms, &m->rms) || !std::isfinite(m->rms) || m->rms < 0))
        return *problem = "avg_reprojection_error '" + *rms + "' is not a number of pixels", false;
    const std::string* text;
    int value = 0;
    if ((text = findScalar(f, {"nframes", "nr_of_frames", "nrOfFrames"})) && parseInt(*text, &value) && value > 0)
        m->views = value;
    int columns = 0, rows = 0;
    const std::string* w = findScalar(f, {"board_width", "board_Width"});
    const std::string* h = findScalar(f, {"board_height", "board_Height"});
    if (w && h && parseInt(*w, &columns) && parseInt(*h, &rows) && columns > 0 && rows > 0)
        m->boardColumns = columns, m->boardRows = rows;
    double size = 0;
    if ((text = findScalar(f, {"square_size", "square_Size"})) && parseDouble(*text, &size) && std::isfinite(size) &&
        size > 0)
        m->squareSize = size;
    if ((text = findScalar(f, {"calibration_time", "calibration_Time"}))) m->calibrationTime = *text;
    return true;
}

CameraModel unknownCamera() {
    CameraModel m{};
    m.rms = NAN;
    m.squareSize = NAN;
    return m;
}

// A file made for another picture of the same aspect ratio: scaled, with
// pixel centres at integer coordinates, c' = (c + 0.5) s - 0.5.
bool fitToPicture(int width, int height, CameraModel* m, std::string* problem) {
    if ((width <= 0 && height <= 0) || (width == m->width && height == m->height)) return true;
    double sx = (double)width / m->width, sy = (double)height / m->height;
    if (width <= 0 || height <= 0 || std::fabs(sx / sy - 1.0) > kAspectTolerance)
        return *problem = "made for " + std::to_string(m->width) + " x " + std::to_string(m->height) +
                          ", the picture is " + std::to_string(width) + " x " + std::to_string(height),
               false;
    m->fx *= sx, m->fy *= sy;
    m->cx = (m->cx + 0.5) * sx - 0.5;
    m->cy = (m->cy + 0.5) * sy - 0.5;
    if (!std::isnan(m->rms)) m->rms *= 0.5 * (sx + sy);
    m->width = width, m->height = height;
    return true;
}

std::string pixels(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

// ---------------------------------------------------------------- the lens model

// Distortion of (x, y) and its Jacobian J = d(xd, yd)/d(x, y), row by row.
// OpenCV's model: radial = (1 + k1 r2 + k2 r4 + k3 r6) / (1 + k4 r2 + k5 r4 + k6 r6),
// xd = x radial + 2 p1 x y + p2 (r2 + 2 x^2), yd = y radial + p1 (r2 + 2 y^2) + 2 p2 x y.
void distortWithJacobian(const double* k, double x, double y, double* xd, double* yd, double* J) {
    double r2 = x * x + y * y, r4 = r2 * r2, r6 = r4 * r2;
    double numerator = 1 + k[0] * r2 + k[1] * r4 + k[4] * r6;
    double denominator = 1 + k[5] * r2 + k[6] * r4 + k[7] * r6;
    double radial = numerator / denominator;
    *xd = x * radial + 2 * k[2] * x * y + k[3] * (r2 + 2 * x * x);
    *yd = y * radial + k[2] * (r2 + 2 * y * y) + 2 * k[3] * x * y;
    if (!J) return;
    // d radial / d r2
    double slope = ((k[0] + 2 * k[1] * r2 + 3 * k[4] * r4) * denominator -
                    numerator * (k[5] + 2 * k[6] * r2 + 3 * k[7] * r4)) /
                   (denominator * denominator);
    double cross = 2 * x * y * slope + 2 * k[2] * x + 2 * k[3] * y;
    J[0] = radial + 2 * x * x * slope + 2 * k[2] * y + 6 * k[3] * x;
    J[1] = cross;
    J[2] = cross;
    J[3] = radial + 2 * y * y * slope + 6 * k[2] * y + 2 * k[3] * x;
}

double determinant(const double* J) { return J[0] * J[3] - J[1] * J[2]; }

// The model stays one-to-one between the centre and (x, y) when its Jacobian
// keeps a positive determinant along the way.
bool unfoldedUpTo(const double* k, double x, double y) {
    double J[4], xd, yd;
    for (int i = 1; i <= kFoldChecks; ++i) {
        double t = (double)i / kFoldChecks;
        distortWithJacobian(k, t * x, t * y, &xd, &yd, J);
        if (!(determinant(J) > 0)) return false;
    }
    return true;
}

}  // namespace

CameraModel centredPinholeCamera(int width, int height, double f) {
    CameraModel m = unknownCamera();
    m.width = width, m.height = height;
    m.fx = m.fy = f;
    m.cx = width / 2, m.cy = height / 2;
    return m;
}

bool checkCameraModel(const CameraModel& m, std::string* problem) {
    if (m.width < 1 || m.height < 1 || m.width > kMaxPictureSide || m.height > kMaxPictureSide)
        return *problem = "picture size " + std::to_string(m.width) + " x " + std::to_string(m.height) +
                          " is not a picture size",
               false;
    double side = std::max(m.width, m.height);
    for (double f : {m.fx, m.fy})
        if (!(f >= kMinFocalPerSide * side && f <= kMaxFocalPerSide * side))
            return *problem = "focal length " + pixels(f) + " px is not plausible for a " + std::to_string(m.width) +
                              " x " + std::to_string(m.height) + " picture",
                   false;
    if (!(m.cx >= -0.5 && m.cx <= m.width - 0.5 && m.cy >= -0.5 && m.cy <= m.height - 0.5))
        return *problem = "principal point (" + pixels(m.cx) + ", " + pixels(m.cy) + ") lies outside the " +
                          std::to_string(m.width) + " x " + std::to_string(m.height) + " picture",
               false;
    if (m.distortionCount != 0 && m.distortionCount != 4 && m.distortionCount != 5 && m.distortionCount != 8)
        return *problem = std::to_string(m.distortionCount) + " distortion coefficients; 0, 4, 5 or 8 are supported",
               false;
    for (int i = 0; i < kMaxDistortionCoefficients; ++i) {
        if (!std::isfinite(m.distortion[i]))
            return *problem = std::string("distortion coefficient ") + kCoefficientNames[i] + " is not finite", false;
        if (i >= m.distortionCount && m.distortion[i] != 0.0)
            return *problem = std::string("distortion coefficient ") + kCoefficientNames[i] +
                              " is set beyond the model's " + std::to_string(m.distortionCount),
                   false;
    }
    if (!std::isnan(m.rms) && !(std::isfinite(m.rms) && m.rms >= 0))
        return *problem = "reprojection error " + pixels(m.rms) + " px is not a number of pixels", false;
    return true;
}

bool readCameraFile(const std::string& path, int pictureWidth, int pictureHeight, CameraModel* model,
                    std::string* error) {
    Fields fields;
    CameraModel m = unknownCamera();
    std::string problem;
    bool ok = readFields(path, &fields, &problem) && rejectFisheye(fields, &problem) &&
              readCameraMatrix(fields, &m, &problem) && readDistortion(fields, &m, &problem) &&
              readSize(fields, &m, &problem) && readInformation(fields, &m, &problem) &&
              fitToPicture(pictureWidth, pictureHeight, &m, &problem) && checkCameraModel(m, &problem);
    if (!ok) {
        *error = path + ": " + problem;
        return false;
    }
    *model = m;
    return true;
}

namespace {

bool hasEnding(const std::string& s, const std::string& ending) {
    return s.size() > ending.size() && s.compare(s.size() - ending.size(), ending.size(), ending) == 0;
}

bool writeStorage(const std::string& path, const CameraModel& m, std::string* problem) {
    // cv::FileStorage logs its own message on a file it cannot open: try first.
    std::FILE* probe = std::fopen(path.c_str(), "w");
    if (!probe) return *problem = std::string("cannot write: ") + std::strerror(errno), false;
    std::fclose(probe);
    try {
        cv::FileStorage storage(path, cv::FileStorage::WRITE);
        if (!storage.isOpened()) return *problem = "cannot write", false;
        if (!m.calibrationTime.empty()) storage << "calibration_time" << m.calibrationTime;
        if (m.views > 0) storage << "nframes" << m.views;
        storage << "image_width" << m.width << "image_height" << m.height;
        if (m.boardColumns > 0 && m.boardRows > 0)
            storage << "board_width" << m.boardColumns << "board_height" << m.boardRows;
        if (std::isfinite(m.squareSize) && m.squareSize > 0) storage << "square_size" << m.squareSize;
        cv::Mat K = (cv::Mat_<double>(3, 3) << m.fx, 0, m.cx, 0, m.fy, m.cy, 0, 0, 1);
        storage << "camera_matrix" << K;
        // No distortion is written as five zeros, which every reader takes.
        int count = m.distortionCount == 0 ? 5 : m.distortionCount;
        cv::Mat D(count, 1, CV_64F);
        for (int i = 0; i < count; ++i) D.at<double>(i) = m.distortion[i];
        storage << "distortion_coefficients" << D;
        if (!std::isnan(m.rms)) storage << "avg_reprojection_error" << m.rms;
        storage.release();
        return true;
    } catch (const cv::Exception& e) {
        *problem = std::string("cannot write: ") + e.err;
        return false;
    } catch (const std::exception& e) {
        *problem = std::string("cannot write: ") + e.what();
        return false;
    }
}

}  // namespace

bool writeCameraFile(const std::string& path, const CameraModel& model, std::string* error) {
    std::string problem, ending;
    for (const char* e : {".yml", ".yaml", ".xml", ".json"})
        if (hasEnding(path, e)) ending = e;
    if (ending.empty()) problem = "the name must end in .yml, .yaml, .xml or .json";
    else checkCameraModel(model, &problem);
    if (!problem.empty()) {
        *error = path + ": " + problem;
        return false;
    }
    // The temporary name keeps the ending, from which cv::FileStorage picks the format.
    PendingFile file = pendingFile(path);
    CameraModel check;
    std::string readError;
    bool ok = writeStorage(file.partialPath, model, &problem);
    // cv::FileStorage reports no failed write (a full disk): read the file back.
    if (ok && !readCameraFile(file.partialPath, model.width, model.height, &check, &readError))
        ok = false, problem = "the file was not written completely";
    if (!ok) {
        discardFile(file);
        *error = path + ": " + problem;
        return false;
    }
    if (!commitFile(file, error)) return false;
    return true;
}

void distortNormalised(const CameraModel& model, double x, double y, double* xd, double* yd) {
    distortWithJacobian(model.distortion, x, y, xd, yd, nullptr);
}

bool undistortNormalised(const CameraModel& model, double xd, double yd, double* x, double* y) {
    const double* k = model.distortion;
    double u = xd, v = yd, J[4], du = 0, dv = 0;
    for (int step = 0; step < kMaxNewtonSteps; ++step) {
        double pu, pv;
        distortWithJacobian(k, u, v, &pu, &pv, J);
        double det = determinant(J);
        if (!(det > 0) || !std::isfinite(pu) || !std::isfinite(pv)) return false;
        // Solve J (du, dv) = (xd, yd) - (pu, pv).
        double ex = xd - pu, ey = yd - pv;
        du = (J[3] * ex - J[1] * ey) / det;
        dv = (J[0] * ey - J[2] * ex) / det;
        u += du, v += dv;
        if (std::fabs(du) + std::fabs(dv) <= kNewtonStepTolerance * (1 + std::fabs(u) + std::fabs(v))) break;
    }
    double pu, pv;
    distortWithJacobian(k, u, v, &pu, &pv, nullptr);
    double scale = 1 + std::fabs(xd) + std::fabs(yd);
    if (!(std::fabs(pu - xd) <= kInverseResidual * scale && std::fabs(pv - yd) <= kInverseResidual * scale))
        return false;
    if (!unfoldedUpTo(k, u, v)) return false;
    *x = u, *y = v;
    return true;
}
