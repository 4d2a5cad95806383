#include "platform/terminal_input.h"

#include <algorithm>

namespace oka::platform {

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kBell = 0x07;
constexpr int32_t kLargestParameter = 9999;
constexpr int kKeptParameters = 3;

InputEvent event_of(InputEvent::Kind kind, size_t length) {
    InputEvent event;
    event.kind = kind;
    event.length = uint32_t(length);
    return event;
}

InputEvent key_event(int32_t key, size_t length, uint32_t modifiers = 0) {
    InputEvent event = event_of(InputEvent::Kind::key, length);
    event.key = key;
    event.modifiers = modifiers;
    return event;
}

// The rest of a sequence is still to come, unless nothing more will.
InputEvent cut_short(size_t n, bool ended) {
    return ended ? event_of(InputEvent::Kind::ignored, n) : event_of(InputEvent::Kind::incomplete, 0);
}

// ---- the named keys

struct Named {
    uint8_t final;   // a letter, or "~" after a number
    int32_t number;  // the number before "~"; 0 for the letters
    Key key;
};

constexpr Named kNamedKeys[] = {
    {'A', 0, Key::up},        {'B', 0, Key::down},    {'C', 0, Key::right},    {'D', 0, Key::left},
    {'F', 0, Key::end},       {'H', 0, Key::home},    {'Z', 0, Key::back_tab}, {'~', 1, Key::home},
    {'~', 2, Key::insert},    {'~', 3, Key::delete_}, {'~', 4, Key::end},      {'~', 5, Key::page_up},
    {'~', 6, Key::page_down}, {'~', 7, Key::home},    {'~', 8, Key::end},      {'~', 15, Key::F5},
    {'~', 17, Key::F6},       {'~', 18, Key::F7},     {'~', 19, Key::F8},      {'~', 20, Key::F9},
    {'~', 21, Key::F10},      {'~', 23, Key::F11},    {'~', 24, Key::F12},
};

// After Esc "O": the cursor keys, Home and End of an application keypad, and F1 to F4.
constexpr Named kKeypadKeys[] = {
    {'A', 0, Key::up},  {'B', 0, Key::down}, {'C', 0, Key::right}, {'D', 0, Key::left}, {'H', 0, Key::home},
    {'F', 0, Key::end}, {'P', 0, Key::F1},   {'Q', 0, Key::F2},    {'R', 0, Key::F3},   {'S', 0, Key::F4},
};

template <size_t N>
const Named* find_named(const Named (&table)[N], uint8_t final, int32_t number) {
    for (const Named& named : table)
        if (named.final == final && named.number == number) return &named;
    return nullptr;
}

// The modifiers of a key whose second parameter is 1 + the sum of Shift 1, Alt 2, Ctrl 4 (Meta 8
// counts as Alt).
uint32_t modifiers_of(int32_t parameter) {
    if (parameter < 2) return 0;
    uint32_t bits = uint32_t(parameter - 1);
    uint32_t modifiers = 0;
    if (bits & 1) modifiers |= kShift;
    if (bits & 10) modifiers |= kAlt;
    if (bits & 4) modifiers |= kControl;
    return modifiers;
}

// ---- control sequences

struct Parameters {
    int32_t values[kKeptParameters] = {};
    int count = 0;          // how many were given, kept or not
    bool mouse = false;     // "<" marks the SGR mouse form
    bool private_ = false;  // another marker ("?", "=", ">", "[") that no key uses
};

InputEvent control_sequence(const uint8_t* bytes, size_t n, bool ended) {
    Parameters p;
    int32_t current = 0;
    bool in_parameter = false;
    for (size_t i = 2; i < n; i++) {
        uint8_t byte = bytes[i];
        if (byte >= '0' && byte <= '9') {
            current = std::min(current * 10 + (byte - '0'), kLargestParameter);
            in_parameter = true;
        } else if (byte == ';') {
            if (p.count < kKeptParameters) p.values[p.count] = current;
            p.count++;
            current = 0;
            in_parameter = false;
        } else if (byte == '<') {
            p.mouse = true;
        } else if (byte == kEsc) {
            return event_of(InputEvent::Kind::ignored, i);  // a new sequence starts here
        } else if (byte >= 0x40 && byte <= 0x7E && byte != '[') {
            if (in_parameter || p.count > 0) {
                if (p.count < kKeptParameters) p.values[p.count] = current;
                p.count++;
            }
            size_t length = i + 1;
            if (p.mouse) {
                if ((byte != 'M' && byte != 'm') || p.count != 3) return event_of(InputEvent::Kind::ignored, length);
                InputEvent mouse = event_of(InputEvent::Kind::mouse, length);
                mouse.button = p.values[0];
                mouse.x = p.values[1];
                mouse.y = p.values[2];
                mouse.released = byte == 'm';
                return mouse;
            }
            if (p.private_) return event_of(InputEvent::Kind::ignored, length);
            if (byte == 'R' && p.count == 2) {
                InputEvent report = event_of(InputEvent::Kind::cursor_report, length);
                report.y = p.values[0];
                report.x = p.values[1];
                return report;
            }
            // "Esc [ 1 ; 5 C": a letter key takes its modifiers from the second parameter, after a first of 1
            int32_t number = byte == '~' ? p.values[0] : 0;
            const Named* named = find_named(kNamedKeys, byte, number);
            if (!named || (byte != '~' && p.count > 0 && p.values[0] > 1))
                return event_of(InputEvent::Kind::ignored, length);
            return key_event(int32_t(named->key), length, p.count >= 2 ? modifiers_of(p.values[1]) : 0);
        } else if (byte == '?' || byte == '=' || byte == '>' || byte == '[') {
            p.private_ = true;
        }
        // intermediate bytes and anything else inside the sequence are passed over
    }
    return cut_short(n, ended);
}

// A device control string or an operating system command: up to Esc "\" or BEL.
InputEvent terminated_string(const uint8_t* bytes, size_t n, bool ended) {
    for (size_t i = 2; i < n; i++) {
        if (bytes[i] == kBell) return event_of(InputEvent::Kind::ignored, i + 1);
        if (bytes[i] == kEsc && i + 1 < n && bytes[i + 1] == '\\') return event_of(InputEvent::Kind::ignored, i + 2);
    }
    return cut_short(n, ended);
}

InputEvent escape(const uint8_t* bytes, size_t n, bool ended) {
    if (n == 1) return ended ? key_event(kEsc, 1) : event_of(InputEvent::Kind::incomplete, 0);
    switch (bytes[1]) {
    case '[': return control_sequence(bytes, n, ended);
    case 'P':
    case ']': return terminated_string(bytes, n, ended);
    case 'O': {
        if (n == 2) return cut_short(n, ended);
        const Named* named = find_named(kKeypadKeys, bytes[2], 0);
        return named ? key_event(int32_t(named->key), 3) : event_of(InputEvent::Kind::ignored, 3);
    }
    default: return key_event(kEsc, 1);
    }
}

// ---- UTF-8

bool continuation_q(uint8_t byte) { return (byte & 0xC0) == 0x80; }

InputEvent utf8_character(const uint8_t* bytes, size_t n, bool ended) {
    uint8_t lead = bytes[0];
    size_t more = (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : 0;
    if (more == 0) return key_event(kReplacementCharacter, 1);  // a stray continuation, or no lead at all
    size_t available = std::min(n - 1, more);
    for (size_t i = 1; i <= available; i++)
        if (!continuation_q(bytes[i])) return key_event(kReplacementCharacter, 1);  // the next byte starts anew
    if (available < more)
        return ended ? key_event(kReplacementCharacter, n) : event_of(InputEvent::Kind::incomplete, 0);
    constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    uint32_t code_point = lead & (0x3F >> more);
    for (size_t i = 1; i <= more; i++) code_point = code_point << 6 | (bytes[i] & 0x3F);
    bool valid = code_point >= kLeast[more] && code_point <= 0x10FFFF && (code_point < 0xD800 || code_point > 0xDFFF);
    return key_event(int32_t(valid ? code_point : kReplacementCharacter), more + 1);
}

}  // namespace

InputEvent decode_input(const uint8_t* bytes, size_t n, bool ended) {
    uint8_t first = bytes[0];
    if (first == kEsc) return escape(bytes, n, ended);
    if (first < 0x80) return key_event(first, 1);
    return utf8_character(bytes, n, ended);
}

}  // namespace oka::platform
