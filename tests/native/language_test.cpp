#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "language.h"

namespace {

const char* const CODES_IN_BUTTON_ORDER[] = {"CHT", "DEU", "ENG", "SPA", "FRE", "ITA",
                                             "JAP", "KOR", "DUT", "POR", "SWE"};

TEST(Language, CodesInButtonOrderThenEndMarker)
{
    for (int k = 0; k < LANGUAGE_COUNT; ++k) {
        ASSERT_NE(language_codes[k], nullptr) << k;
        EXPECT_STREQ(language_codes[k], CODES_IN_BUTTON_ORDER[k]) << k;
    }
    EXPECT_EQ(language_codes[LANGUAGE_COUNT], nullptr);
}

TEST(Language, DefaultButtonForTheSystemLanguage)
{
    struct Case {
        unsigned id;
        const char* code;
        const char* label;  // null: no native label
    } cases[] = {
        {0x0407, "DEU", nullptr}, {0x0C07, "DEU", nullptr}, {0x0807, "DEU", nullptr},
        {0x0804, "CHT", "\xA4\xA4\xA4\xE5"}, {0x0404, "CHT", "\xA4\xA4\xA4\xE5"},
        {0x0411, "JAP", "\x93\xFA\x96\x7B\x8C\xEA"}, {0x0412, "KOR", "\xC8\xAF\xB8\xA6"},
        {0x0416, "POR", nullptr}, {0x0816, "POR", nullptr},
        {0x0409, "ENG", nullptr}, {0x0809, "ENG", nullptr}, {0x0419, "ENG", nullptr},
        {0x0415, "ENG", nullptr}, {0x0000, "ENG", nullptr},
        {0x0207, "ENG", nullptr},  // a primary language of its own, not German
        {0x040A, "SPA", nullptr}, {0x0C0A, "SPA", nullptr}, {0x040C, "FRE", nullptr},
        {0x0410, "ITA", nullptr}, {0x0413, "DUT", nullptr}, {0x041D, "SWE", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id);
        LanguageDefault d = default_language_button(c.id);
        ASSERT_GE(d.button_index, 0);
        ASSERT_LT(d.button_index, LANGUAGE_COUNT);
        EXPECT_STREQ(CODES_IN_BUTTON_ORDER[d.button_index], c.code);
        if (c.label)
            EXPECT_STREQ(d.native_label, c.label);
        else
            EXPECT_EQ(d.native_label, nullptr);
    }
}

struct Buttons {
    std::set<int> checked;
    std::vector<int> asked;
    static int is_checked(void* context, int index)
    {
        Buttons& self = *static_cast<Buttons*>(context);
        self.asked.push_back(index);
        return self.checked.count(index) ? 1 : 0;
    }
};

TEST(Language, ChosenCodeIsTheFirstCheckedButton)
{
    for (int k = 0; k < LANGUAGE_COUNT; ++k) {
        Buttons buttons;
        buttons.checked = {k, LANGUAGE_COUNT - 1};
        const char* code = chosen_language_code(&Buttons::is_checked, &buttons);
        EXPECT_EQ(code, language_codes[k]) << "the table's own string";
        EXPECT_STREQ(code, CODES_IN_BUTTON_ORDER[k]);
        EXPECT_EQ(buttons.asked.size(), static_cast<size_t>(k + 1));
    }
}

TEST(Language, NoneCheckedMeansEnglish)
{
    Buttons buttons;
    const char* code = chosen_language_code(&Buttons::is_checked, &buttons);
    EXPECT_STREQ(code, "ENG");
    EXPECT_EQ(code, language_codes[2]);
    EXPECT_EQ(code, default_language_code);
    EXPECT_EQ(buttons.asked.size(), static_cast<size_t>(LANGUAGE_COUNT));
}

}  // namespace
