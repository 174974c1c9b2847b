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
#define IDC_LANG_FIRST 1015
#define IDC_LANG_LAST 1025

#define IDI_POLVEX 105

#endif
