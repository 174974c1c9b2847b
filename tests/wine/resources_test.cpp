#include <gtest/gtest.h>
#include <windows.h>

#include "ids.h"

TEST(Resources, StringTableTextsAreExact)
{
    struct Entry {
        UINT id;
        const char* text;
    };
    const Entry entries[] = {
        {IDS_TITLE, "Downloading..."},
        {IDS_INITIALIZING, "Initializing..."},
        {IDS_ERR_CONNECT, "Failed to connect to download site.\r\nPlease try again later..."},
        {IDS_ERR_PARSE, "Parsing error occured. Please contact\r\nus if this error persists."},
        {IDS_ERR_NETWORK,
         "A network error occured while downloading software.\r\nPlease try again later..."},
        {IDS_PREPARING, "Preparing to run installation..."},
        {IDS_ERR_LAUNCH,
         "Error starting polvex installation. Please contact\r\nus if this error persists."},
    };
    for (const Entry& e : entries) {
        char text[1024] = "";
        LoadStringA(GetModuleHandleA(nullptr), e.id, text, sizeof text);
        EXPECT_STREQ(text, e.text) << "string " << e.id;
    }
    char none[16] = "x";
    EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 8, none, sizeof none), 0);
}

TEST(Resources, DialogsAndIconExist)
{
    HMODULE self = GetModuleHandleA(nullptr);
    EXPECT_NE(FindResourceA(self, "LANGCHOOSER", MAKEINTRESOURCEA(5)), nullptr);  // RT_DIALOG
    EXPECT_NE(FindResourceA(self, "MANAGER", MAKEINTRESOURCEA(5)), nullptr);
    EXPECT_NE(FindResourceA(self, MAKEINTRESOURCEA(IDI_POLVEX), MAKEINTRESOURCEA(14)), nullptr);
    EXPECT_NE(FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr);
}
