// keys.cpp - the viewer's key table (keys.h).
#include "keys.h"

#include <strings.h>

#include <cctype>

const KeyBinding kKeyTable[] = {
    {"A", false, 'a', KeyAction::kSink, true, "the ship sinks one rise step, stopping on the board"},
    {"S", false, 's', KeyAction::kRise, true, "the ship rises one rise step"},
    {"O", false, 'o', KeyAction::kToOrigin, true, "the ship goes to the board's origin (heading kept)"},
    {"P", false, 'p', KeyAction::kToOrigin, true, ""},
    {"Left", true, kKeyLeft, KeyAction::kTurnLeft, true, "the ship turns left by one turn step"},
    {"Right", true, kKeyRight, KeyAction::kTurnRight, true, "the ship turns right by one turn step"},
    {"Up", true, kKeyUp, KeyAction::kForward, true, "the ship moves one advance step forward along its nose"},
    {"Down", true, kKeyDown, KeyAction::kBack, true, "the ship moves one advance step back"},
    {"Space", false, ' ', KeyAction::kPause, false, "pauses a video file, or plays it on (viewer only)"},
    {"Q", false, 'q', KeyAction::kQuit, false, "ends the viewer (viewer only)"},
    {"Escape", false, kKeyEscape, KeyAction::kQuit, false, ""},
};
const std::size_t kKeyCount = sizeof kKeyTable / sizeof kKeyTable[0];

bool findKey(bool special, int code, KeyAction* action) {
    for (const KeyBinding& k : kKeyTable) {
        if (k.special != special) continue;
        const bool same = special ? code == k.code : std::tolower(code) == k.code;
        if (!same) continue;
        *action = k.action;
        return true;
    }
    return false;
}

const KeyBinding* keyNamed(const std::string& name) {
    for (const KeyBinding& k : kKeyTable)
        if (k.replayable && strcasecmp(name.c_str(), k.name) == 0) return &k;
    return nullptr;
}

std::string replayableKeyNames() {
    std::string names;
    for (const KeyBinding& k : kKeyTable)
        if (k.replayable) names += (names.empty() ? "" : " ") + std::string(k.name);
    return names;
}

std::string keysHelp() {
    std::string text = "Keys:\n";
    for (std::size_t i = 0; i < kKeyCount; ++i) {
        const KeyBinding& k = kKeyTable[i];
        if (*k.what == '\0') continue;
        std::string names = k.name;
        // Further keys of the same action follow in the table.
        for (std::size_t j = i + 1; j < kKeyCount && *kKeyTable[j].what == '\0' && kKeyTable[j].action == k.action; ++j)
            names += std::string(" or ") + kKeyTable[j].name;
        text += "  " + names + std::string(names.size() < 12 ? 12 - names.size() : 1, ' ') + k.what + "\n";
    }
    return text;
}
