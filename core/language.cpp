#include "language.h"

const char default_language_code[] = "ENG";

const char* const language_codes[LANGUAGE_COUNT + 1] = {
    "CHT", "DEU", default_language_code, "SPA", "FRE", "ITA",
    "JAP", "KOR", "DUT", "POR", "SWE", nullptr,
};

namespace {

const int ENGLISH_BUTTON = 2;

// Big5, Shift-JIS and the Korean code page, as plain ANSI bytes.
const char chinese_label[] = "\xA4\xA4\xA4\xE5";
const char japanese_label[] = "\x93\xFA\x96\x7B\x8C\xEA";
const char korean_label[] = "\xC8\xAF\xB8\xA6";

struct PrimaryLanguage {
    unsigned primary_id;
    LanguageDefault button;
};

const PrimaryLanguage primary_languages[] = {
    {4, {0, chinese_label}},   // Chinese, simplified and traditional
    {7, {1, nullptr}},         // German
    {10, {3, nullptr}},        // Spanish
    {12, {4, nullptr}},        // French
    {16, {5, nullptr}},        // Italian
    {17, {6, japanese_label}}, // Japanese
    {18, {7, korean_label}},   // Korean
    {19, {8, nullptr}},        // Dutch
    {22, {9, nullptr}},        // Portuguese
    {29, {10, nullptr}},       // Swedish
};

}  // namespace

LanguageDefault default_language_button(unsigned language_id)
{
    unsigned primary = language_id & 0x3FF;
    for (const PrimaryLanguage& entry : primary_languages) {
        if (entry.primary_id == primary)
            return entry.button;
    }
    return LanguageDefault{ENGLISH_BUTTON, nullptr};
}

const char* chosen_language_code(IsButtonChecked is_checked, void* context)
{
    for (int k = 0; language_codes[k]; ++k) {
        if (is_checked(context, k))
            return language_codes[k];
    }
    return default_language_code;
}
