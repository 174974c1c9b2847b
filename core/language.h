// Language choice: the eleven codes in button order, the default button for
// the system language, and the code for the buttons' checked states.
#pragma once

const int LANGUAGE_COUNT = 11;

// The codes in button order, then a null end marker.
extern const char* const language_codes[LANGUAGE_COUNT + 1];
// "ENG": the default code, the same string as its entry in language_codes.
extern const char default_language_code[];

struct LanguageDefault {
    int button_index;          // 0 .. 10, counted from the first radio button
    const char* native_label;  // caption in the language's own script, or null
};

// The button checked at start for a system language id (its low 10 bits are
// the primary language).
LanguageDefault default_language_button(unsigned language_id);

// Asks for the checked state of buttons in order; returns the code of the
// first checked one, or "ENG" when none is checked.
typedef int (*IsButtonChecked)(void* context, int button_index);
const char* chosen_language_code(IsButtonChecked is_checked, void* context);
