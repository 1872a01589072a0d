// make_board.cpp - writes a chessboard to print at exact physical scale, as
// PDF, SVG or PNG (chosen by the output's extension), drawn with cairo.
//
// A board of W x H inner corners has (W + 1) x (H + 1) squares. The top-left
// square is black, as in the sample video: with an odd number of squares each
// way (the default 9 x 7) all four corner squares are black. The squares are
// centred on the page with a white margin of at least one square. A4 and
// Letter are portrait (shorter side across) when the board fits so,
// landscape when only that fits; a page given as WxHmm is W wide and H high. A small caption under the squares gives the inner corners, the
// square size and "print at 100 %". PDF is in points, SVG in millimetres; the
// PNG's square edges lie on whole pixels (each within half a pixel of its true
// place, so they print crisp) and its pHYs chunk records the resolution.
//
// Limits: squares 2 to 500 mm; paper sides up to 5000 mm (PDF's page limit is
// about 5080 mm); PNG 50 to 1200 dpi, at most 100 million pixels and 32767 a
// side. A board that does not fit, a bad value or an unknown extension: one
// line on standard error, status 2, no file. The file is written beside its
// final name and renamed once complete, so a failed run never leaves a partial
// file there.
//
// Usage:
//     make_board -o board.pdf                  # 8 x 6 inner corners, 19 mm squares, A4
//     make_board -o board.png --board 9x6 --square 22 --paper letter --dpi 150
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "atomic_file.h"
#include "command_line.h"

namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kPointsPerMm = 72.0 / kMmPerInch;
constexpr double kA4WidthMm = 210.0, kA4HeightMm = 297.0;
constexpr double kLetterWidthMm = 215.9, kLetterHeightMm = 279.4;  // 8.5 x 11 inches
constexpr double kDefaultSquareMm = 19.0;  // 11 squares with the margin: 209 mm, inside A4's 210
constexpr double kMinSquareMm = 2.0, kMaxSquareMm = 500.0;
constexpr double kMaxPaperSideMm = 5000.0;
constexpr int kDefaultDpi = 300, kMinDpi = 50, kMaxDpi = 1200;
constexpr double kMaxPngPixels = 100e6;  // 400 MB of picture in memory
constexpr int kMaxPngSide = 32767;       // cairo's limit for a picture
constexpr int kMarginSquares = 1;        // white around the squares, at least, each side

// The caption starts half a square below the squares and is at most 0.35 of
// a square tall, so it stays inside the one-square margin.
constexpr double kCaptionGapSquares = 0.5;
constexpr double kCaptionMaxFontSquares = 0.35;
constexpr double kCaptionFontMm = 3.5;
constexpr double kCaptionPageEdgeMm = 5.0;  // kept free at the page's sides

enum class Format { Pdf, Svg, Png };

// A named paper (A4, Letter) is turned to whichever way the board fits; a
// page given as W x H mm is W wide, as given.
struct Paper {
    double widthMm, heightMm;
    std::string name;
    bool turnable;
};

struct BoardRequest {
    BoardSize board = kDefaultBoard;
    double squareMm = kDefaultSquareMm;
    Paper paper = {kA4WidthMm, kA4HeightMm, "A4", true};
    int dpi = kDefaultDpi;
    std::string output;
    Format format = Format::Pdf;
};

// The page as printed (turned when landscape) and where the squares lie on it.
struct PageLayout {
    double widthMm, heightMm;
    bool landscape;
    double squaresLeftMm, squaresTopMm;
};

std::string formatMm(double mm) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", mm);
    return text;
}

bool parseNumber(const std::string& text, double* value) {
    if (text.empty() || text.size() > 16) return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

// "a4", "letter" (any case) or "WxHmm" with positive sides in millimetres.
bool parsePaper(const std::string& text, Paper* paper, std::string* error) {
    if (strcasecmp(text.c_str(), "a4") == 0) {
        *paper = {kA4WidthMm, kA4HeightMm, "A4", true};
        return true;
    }
    if (strcasecmp(text.c_str(), "letter") == 0) {
        *paper = {kLetterWidthMm, kLetterHeightMm, "Letter", true};
        return true;
    }
    size_t x = text.find_first_of("xX");
    bool millimetres = text.size() > 2 && strcasecmp(text.c_str() + text.size() - 2, "mm") == 0;
    double w = 0, h = 0;
    if (x == std::string::npos || !millimetres || !parseNumber(text.substr(0, x), &w) ||
        !parseNumber(text.substr(x + 1, text.size() - 2 - (x + 1)), &h)) {
        *error = "'" + text + "' is not a paper size (a4, letter or WxHmm, e.g. 300x400mm)";
        return false;
    }
    if (!(w > 0 && h > 0) || w > kMaxPaperSideMm || h > kMaxPaperSideMm) {
        *error = "paper sides must be positive and at most " + formatMm(kMaxPaperSideMm) + " mm, not " + text;
        return false;
    }
    *paper = {w, h, formatMm(w) + " x " + formatMm(h) + " mm", false};
    return true;
}

bool formatOf(const std::string& path, Format* format) {
    struct Extension {
        const char* text;
        Format format;
    };
    static const Extension kExtensions[] = {{".pdf", Format::Pdf}, {".svg", Format::Svg}, {".png", Format::Png}};
    for (const Extension& e : kExtensions)
        if (path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, e.text) == 0) {
            *format = e.format;
            return true;
        }
    return false;
}

void addOptions(CLI::App* app, BoardRequest* r) {
    app->add_option("-o,--output", r->output, "the board's file: .pdf, .svg or .png")
        ->type_name("FILE")
        ->required();
    addBoardOption(app, &r->board);
    app->add_option_function<std::string>(
           "--square",
           [r](const std::string& text) {
               if (!parseNumber(text, &r->squareMm) || r->squareMm < kMinSquareMm || r->squareMm > kMaxSquareMm)
                   throw CLI::ValidationError("--square", "a square's side must be a number from " +
                                                              formatMm(kMinSquareMm) + " to " +
                                                              formatMm(kMaxSquareMm) + " mm, not '" + text + "'");
           },
           "side of a square in millimetres, 2 to 500 (default 19)")
        ->type_name("MM");
    app->add_option_function<std::string>(
           "--paper",
           [r](const std::string& text) {
               std::string error;
               if (!parsePaper(text, &r->paper, &error)) throw CLI::ValidationError("--paper", error);
           },
           "a4, letter (either way round, as the board fits) or WxHmm (W wide, H high; default a4)")
        ->type_name("SIZE");
    app->add_option_function<std::string>(
           "--dpi",
           [r](const std::string& text) {
               double dpi = 0;
               if (!parseNumber(text, &dpi) || dpi != std::floor(dpi) || dpi < kMinDpi || dpi > kMaxDpi)
                   throw CLI::ValidationError("--dpi", "the resolution must be a whole number from " +
                                                           std::to_string(kMinDpi) + " to " +
                                                           std::to_string(kMaxDpi) + ", not '" + text + "'");
               r->dpi = static_cast<int>(dpi);
           },
           "pixels per inch of a PNG, 50 to 1200 (default 300)")
        ->type_name("N");
}

// Checks what single options cannot: the output's format and whether --dpi means anything.
bool checkRequest(BoardRequest* r, bool dpiGiven, std::string* error) {
    if (!formatOf(r->output, &r->format)) {
        *error = "'" + r->output + "': the output's extension must be .pdf, .svg or .png";
        return false;
    }
    if (dpiGiven && r->format != Format::Png) {
        *error = "--dpi applies to PNG output only";
        return false;
    }
    return true;
}

bool layOutPage(const BoardRequest& r, PageLayout* page, std::string* error) {
    const double needWidth = (r.board.columns + 1 + 2 * kMarginSquares) * r.squareMm;
    const double needHeight = (r.board.rows + 1 + 2 * kMarginSquares) * r.squareMm;
    const double shortSide = std::min(r.paper.widthMm, r.paper.heightMm);
    const double longSide = std::max(r.paper.widthMm, r.paper.heightMm);
    constexpr double kRoundingMm = 1e-9;
    auto fits = [&](double width, double height) {
        return needWidth <= width + kRoundingMm && needHeight <= height + kRoundingMm;
    };
    if (!r.paper.turnable && fits(r.paper.widthMm, r.paper.heightMm)) {
        *page = {r.paper.widthMm, r.paper.heightMm, r.paper.widthMm > r.paper.heightMm, 0, 0};
    } else if (r.paper.turnable && fits(shortSide, longSide)) {
        *page = {shortSide, longSide, false, 0, 0};
    } else if (r.paper.turnable && fits(longSide, shortSide)) {
        *page = {longSide, shortSide, true, 0, 0};
    } else {
        *error = "a " + std::to_string(r.board.columns) + " x " + std::to_string(r.board.rows) + " board of " +
                 formatMm(r.squareMm) + " mm squares needs " + formatMm(needWidth) + " x " + formatMm(needHeight) +
                 " mm with its margin; " + r.paper.name +
                 (r.paper.turnable ? " is " + formatMm(shortSide) + " x " + formatMm(longSide) + " mm"
                                   : " is too small (a page given in mm is W wide, H high)");
        return false;
    }
    page->squaresLeftMm = (page->widthMm - (r.board.columns + 1) * r.squareMm) / 2;
    page->squaresTopMm = (page->heightMm - (r.board.rows + 1) * r.squareMm) / 2;
    return true;
}

std::string captionOf(const BoardRequest& r) {
    return std::to_string(r.board.columns) + " x " + std::to_string(r.board.rows) + " inner corners, " +
           formatMm(r.squareMm) + " mm squares - print at 100 %";
}

// Drawing units: points (PDF), millimetres (SVG) or pixels (PNG), whose
// square edges are rounded to whole pixels.
struct Canvas {
    double unitsPerMm;
    bool wholePixels;
};

double edge(const Canvas& canvas, double mm) {
    double units = mm * canvas.unitsPerMm;
    return canvas.wholePixels ? std::round(units) : units;
}

// Square (column, row), counted from the top left, is black when column + row is even.
void drawSquares(cairo_t* cr, const BoardRequest& r, const PageLayout& page, const Canvas& canvas) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (int row = 0; row <= r.board.rows; ++row)
        for (int column = row % 2; column <= r.board.columns; column += 2) {
            double x0 = edge(canvas, page.squaresLeftMm + column * r.squareMm);
            double x1 = edge(canvas, page.squaresLeftMm + (column + 1) * r.squareMm);
            double y0 = edge(canvas, page.squaresTopMm + row * r.squareMm);
            double y1 = edge(canvas, page.squaresTopMm + (row + 1) * r.squareMm);
            cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
        }
    cairo_fill(cr);
}

// Centred under the squares, shrunk if the page is too narrow for it.
void drawCaption(cairo_t* cr, const BoardRequest& r, const PageLayout& page, const Canvas& canvas) {
    const std::string caption = captionOf(r);
    double fontMm = std::min(kCaptionFontMm, kCaptionMaxFontSquares * r.squareMm);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, fontMm * canvas.unitsPerMm);
    cairo_text_extents_t text;
    cairo_text_extents(cr, caption.c_str(), &text);
    const double room = (page.widthMm - 2 * kCaptionPageEdgeMm) * canvas.unitsPerMm;
    if (text.x_advance > room) {
        fontMm *= room / text.x_advance;
        cairo_set_font_size(cr, fontMm * canvas.unitsPerMm);
        cairo_text_extents(cr, caption.c_str(), &text);
    }
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    const double squaresBottomMm = page.squaresTopMm + (r.board.rows + 1) * r.squareMm;
    const double top = (squaresBottomMm + kCaptionGapSquares * r.squareMm) * canvas.unitsPerMm;
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, (page.widthMm * canvas.unitsPerMm - text.x_advance) / 2, top + font.ascent);
    cairo_show_text(cr, caption.c_str());
}

void drawPage(cairo_t* cr, const BoardRequest& r, const PageLayout& page, const Canvas& canvas) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    drawSquares(cr, r, page, canvas);
    drawCaption(cr, r, page, canvas);
}

// cairo and fontconfig keep their fonts for the life of the process; freed
// here so that leak checkers see only leaks of this program's own.
void releaseFontCaches() {
    cairo_debug_reset_static_data();
    FcFini();
}

using Bytes = std::vector<unsigned char>;

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    Bytes* bytes = static_cast<Bytes*>(closure);
    bytes->insert(bytes->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

std::uint32_t crc32Of(const unsigned char* data, size_t length) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBigEndian(Bytes* out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<unsigned char>(value >> shift));
}

// cairo writes no resolution; a pHYs chunk right after the header (8-byte
// signature, 25-byte IHDR chunk) lets programs print the PNG at its true size.
bool addResolution(Bytes* png, int dpi) {
    constexpr size_t kAfterHeader = 8 + 25;
    if (png->size() < kAfterHeader || std::memcmp(png->data() + 12, "IHDR", 4) != 0) return false;
    const std::uint32_t pixelsPerMetre = static_cast<std::uint32_t>(std::lround(dpi / (kMmPerInch / 1000)));
    Bytes chunk;
    putBigEndian(&chunk, 9);
    chunk.insert(chunk.end(), {'p', 'H', 'Y', 's'});
    putBigEndian(&chunk, pixelsPerMetre);
    putBigEndian(&chunk, pixelsPerMetre);
    chunk.push_back(1);  // unit: the metre
    putBigEndian(&chunk, crc32Of(chunk.data() + 4, chunk.size() - 4));
    png->insert(png->begin() + kAfterHeader, chunk.begin(), chunk.end());
    return true;
}

// The PNG's size in pixels: the page at the requested resolution.
void pngSize(const BoardRequest& r, const PageLayout& page, int* width, int* height) {
    *width = static_cast<int>(std::lround(page.widthMm * r.dpi / kMmPerInch));
    *height = static_cast<int>(std::lround(page.heightMm * r.dpi / kMmPerInch));
}

bool checkPngSize(const BoardRequest& r, const PageLayout& page, std::string* error) {
    int width = 0, height = 0;
    pngSize(r, page, &width, &height);
    if (static_cast<double>(width) * height <= kMaxPngPixels && width <= kMaxPngSide && height <= kMaxPngSide)
        return true;
    *error = "a " + r.paper.name + " page at " + std::to_string(r.dpi) + " dpi is " + std::to_string(width) +
             " x " + std::to_string(height) + " pixels, above " + formatMm(kMaxPngPixels / 1e6) +
             " million or " + std::to_string(kMaxPngSide) + " a side; lower --dpi or write a PDF";
    return false;
}

bool renderPng(const BoardRequest& r, const PageLayout& page, Bytes* out, std::string* error) {
    const Canvas canvas{r.dpi / kMmPerInch, true};
    int width = 0, height = 0;
    pngSize(r, page, &width, &height);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(surface);
    drawPage(cr, r, page, canvas);
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_write_to_png_stream(surface, appendBytes, out);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS || !addResolution(out, r.dpi)) {
        *error = std::string("cannot draw the PNG: ") + cairo_status_to_string(status);
        return false;
    }
    return true;
}

bool renderVector(const BoardRequest& r, const PageLayout& page, Bytes* out, std::string* error) {
    cairo_surface_t* surface = nullptr;
    Canvas canvas{kPointsPerMm, false};
    if (r.format == Format::Pdf) {
        surface = cairo_pdf_surface_create_for_stream(appendBytes, out, page.widthMm * kPointsPerMm,
                                                      page.heightMm * kPointsPerMm);
        const std::string title = "Chessboard, " + captionOf(r);
        cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, title.c_str());
    } else {
        // In millimetres, so that the file's width and height read "210mm" and
        // its coordinates are millimetres.
        canvas.unitsPerMm = 1.0;
        surface = cairo_svg_surface_create_for_stream(appendBytes, out, page.widthMm, page.heightMm);
        cairo_svg_surface_set_document_unit(surface, CAIRO_SVG_UNIT_MM);
    }
    cairo_t* cr = cairo_create(surface);
    drawPage(cr, r, page, canvas);
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = std::string("cannot draw the page: ") + cairo_status_to_string(status);
        return false;
    }
    return true;
}

// Writes a temporary file beside path, then renames it to path.
bool writeFileWhole(const std::string& path, const Bytes& bytes, std::string* error) {
    PendingFile file = pendingFile(path);
    std::FILE* out = std::fopen(file.partialPath.c_str(), "wb");
    if (!out) {
        *error = path + ": cannot write (" + std::strerror(errno) + ")";
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    int saved = errno;
    if (std::fclose(out) != 0 && ok) ok = false, saved = errno;
    if (!ok) {
        discardFile(file);
        *error = path + ": cannot write (" + std::strerror(saved) + ")";
        return false;
    }
    return commitFile(file, error);
}

}  // namespace

int main(int argc, char** argv) {
    BoardRequest request;
    CLI::App app{"Writes a chessboard to print at exact scale, centred on the page with a white\n"
                 "margin of at least one square; the top-left square is black. The format\n"
                 "follows the output's extension: .pdf, .svg or .png.",
                 "make_board"};
    setUpCommandLine(&app);
    addOptions(&app, &request);
    CommandLineOutcome outcome = parseCommandLine(&app, argc, argv);
    if (!outcome.run) return outcome.status;

    std::string error;
    PageLayout page{};
    if (!checkRequest(&request, app.count("--dpi") > 0, &error) || !layOutPage(request, &page, &error) ||
        (request.format == Format::Png && !checkPngSize(request, page, &error)))
        return reportUsageError(app, error);
    Bytes bytes;
    bool drawn = request.format == Format::Png ? renderPng(request, page, &bytes, &error)
                                               : renderVector(request, page, &bytes, &error);
    releaseFontCaches();
    if (!drawn || !writeFileWhole(request.output, bytes, &error)) {
        std::fprintf(stderr, "make_board: %s\n", error.c_str());
        return 1;
    }
    std::printf("make_board: %s: %d x %d inner corners, %s mm squares, %s %s\n", request.output.c_str(),
                request.board.columns, request.board.rows, formatMm(request.squareMm).c_str(),
                request.paper.name.c_str(), page.landscape ? "landscape" : "portrait");
    return 0;
}
