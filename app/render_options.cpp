// render_options.cpp - parsing arrender's command line.
#include "render_options.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ship.h"

const char* const kRenderUsage =
    "usage: arrender SOURCE [options]\n"
    "Runs the viewer's frame loop without a window: finds the board, calibrates\n"
    "the camera and draws the ship on every frame of SOURCE (a video file, or a\n"
    "single digit for a camera).\n"
    "  -o FILE.avi            write the composed pictures as an MJPG video\n"
    "  --poses FILE.csv       one row per frame: frame, found, f, R (9), T (3),\n"
    "                         reprojection RMS in pixels, milliseconds per stage\n"
    "  --snapshot N:FILE.png  the composed picture of frame N, or of the last\n"
    "                         frame for N = last (repeatable)\n"
    "  --keys \"N:KEY,...\"     key presses before frame N; KEY is A, S, O, P,\n"
    "                         Left, Right, Up or Down\n"
    "  --frames N             stop after N frames\n"
    "Frames are counted from 0.\n";

namespace {

bool parseCount(const char* text, long* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < 0) return false;
    *value = v;
    return true;
}

bool parseKeyName(const std::string& name, KeyPress* key) {
    struct Named {
        const char* name;
        bool special;
        int code;
    };
    static const Named kKeys[] = {{"A", false, 'a'},      {"S", false, 's'},     {"O", false, 'o'},
                                  {"P", false, 'p'},      {"Left", true, kKeyLeft}, {"Right", true, kKeyRight},
                                  {"Up", true, kKeyUp},   {"Down", true, kKeyDown}};
    for (const Named& k : kKeys)
        if (strcasecmp(name.c_str(), k.name) == 0) {
            key->special = k.special;
            key->code = k.code;
            return true;
        }
    return false;
}

// "N:KEY,N:KEY,..." in any order; presses keep their order within a frame.
bool parseKeys(const std::string& list, std::vector<KeyPress>* keys, std::string* error) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t colon = item.find(':');
        KeyPress key{};
        if (colon == std::string::npos || !parseCount(item.substr(0, colon).c_str(), &key.frame) ||
            !parseKeyName(item.substr(colon + 1), &key)) {
            *error = "bad key press '" + item + "' (expected FRAME:KEY, KEY one of A S O P Left Right Up Down)";
            return false;
        }
        keys->push_back(key);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

bool parseSnapshot(const std::string& text, std::vector<Snapshot>* snapshots, std::string* error) {
    size_t colon = text.find(':');
    Snapshot s{};
    bool last = colon != std::string::npos && text.compare(0, colon, "last") == 0;
    if (last) s.frame = kLastFrame;
    if (colon == std::string::npos || (!last && !parseCount(text.substr(0, colon).c_str(), &s.frame)) ||
        colon + 1 >= text.size()) {
        *error = "bad snapshot '" + text + "' (expected N:FILE.png or last:FILE.png)";
        return false;
    }
    s.path = text.substr(colon + 1);
    snapshots->push_back(s);
    return true;
}

// The value of the option at argv[*i], moving past it.
const char* optionValue(int argc, char** argv, int* i, std::string* error) {
    if (*i + 1 >= argc) {
        *error = std::string("option ") + argv[*i] + " needs a value";
        return nullptr;
    }
    return argv[++*i];
}

}  // namespace

bool parseRenderOptions(int argc, char** argv, RenderOptions* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options->help = true;
            return true;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            const char* value = optionValue(argc, argv, &i, error);
            if (!value) return false;
            if (arg == "-o") {
                options->videoPath = value;
            } else if (arg == "--poses") {
                options->posesPath = value;
            } else if (arg == "--snapshot") {
                if (!parseSnapshot(value, &options->snapshots, error)) return false;
            } else if (arg == "--keys") {
                if (!parseKeys(value, &options->keys, error)) return false;
            } else if (arg == "--frames") {
                if (!parseCount(value, &options->frameLimit)) {
                    *error = std::string("bad frame count '") + value + "'";
                    return false;
                }
            } else {
                *error = "unknown option " + arg;
                return false;
            }
        } else if (options->source.empty()) {
            options->source = arg;
        } else {
            *error = "more than one source: " + options->source + ", " + arg;
            return false;
        }
    }
    if (options->source.empty()) {
        *error = "no source given";
        return false;
    }
    return true;
}
