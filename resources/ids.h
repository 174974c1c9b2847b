/* Numbers shared by the resources and the code: strings, controls, icon. */
#ifndef POLVEX_IDS_H
#define POLVEX_IDS_H

#define IDS_TITLE 1
#define IDS_INITIALIZING 2
#define IDS_ERR_CONNECT 3
#define IDS_ERR_PARSE 4
#define IDS_ERR_NETWORK 5
#define IDS_PREPARING 6
#define IDS_ERR_LAUNCH 7

#define IDC_STATUS 1001
#define IDC_PROGRESS 1003
#define IDC_FOCUS_SINK 1005
/* The language buttons, in the order of the codes (core/language.cpp). */
#define IDC_LANG_CHINESE 1015
#define IDC_LANG_GERMAN 1016
#define IDC_LANG_ENGLISH 1017
#define IDC_LANG_SPANISH 1018
#define IDC_LANG_FRENCH 1019
#define IDC_LANG_ITALIAN 1020
#define IDC_LANG_JAPANESE 1021
#define IDC_LANG_KOREAN 1022
#define IDC_LANG_DUTCH 1023
#define IDC_LANG_PORTUGUESE 1024
#define IDC_LANG_SWEDISH 1025
#define IDC_LANG_FIRST IDC_LANG_CHINESE
#define IDC_LANG_LAST IDC_LANG_SWEDISH

#define IDI_POLVEX 105

#endif
