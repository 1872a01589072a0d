// keys.h - the one table of the viewer's keys: what arviewer does on each,
// the names arrender's --keys takes, and the lines --help prints, all read
// from it. The ship's keys (A, S, O, P and the arrows) are replayable in
// arrender; Space and Q/Escape belong to the window.
//
// Usage:
//     KeyAction action;
//     if (findKey(false, 'a', &action)) ...   // a character key, either case
//     const KeyBinding* key = keyNamed("Left");   // as --keys names it
#ifndef APP_KEYS_H
#define APP_KEYS_H

#include <cstddef>
#include <string>

// Special-key codes, those of GLUT.
constexpr int kKeyLeft = 100, kKeyUp = 101, kKeyRight = 102, kKeyDown = 103;
constexpr int kKeyEscape = 27;

enum class KeyAction { kSink, kRise, kToOrigin, kTurnLeft, kTurnRight, kForward, kBack, kPause, kQuit };

struct KeyBinding {
    const char* name;  // as --keys and --help name it
    bool special;      // a special key (kKey* codes) rather than a character
    int code;          // the character (its other case is taken too) or the special code
    KeyAction action;
    bool replayable;   // arrender's --keys takes it
    const char* what;  // for --help; empty for a second key of the same action
};

extern const KeyBinding kKeyTable[];
extern const std::size_t kKeyCount;

// The action of a key press; false for a key that does nothing.
bool findKey(bool special, int code, KeyAction* action);

// The replayable key of that name, letter case ignored; null for none.
const KeyBinding* keyNamed(const std::string& name);

// "A S O P Left Right Up Down": the names --keys takes.
std::string replayableKeyNames();

// The keys' lines for --help, one per action.
std::string keysHelp();

#endif
