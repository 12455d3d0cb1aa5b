// Control ids of dialog template 1.
#pragma once

#define IDD_WIZARD 1
#define IDI_SETUP 1

#define IDC_NEXT 1
#define IDC_CANCEL 2
#define IDC_BACK 3
#define IDC_HEADER_BAND 4
#define IDC_TITLE 5
#define IDC_SUBTITLE 6
#define IDC_DIR_LABEL 7
#define IDC_BROWSE 8
#define IDC_ACCEPT 9
#define IDC_DESKTOP_SHORTCUT 10
#define IDC_LAUNCH 11
#define IDC_DIR_EDIT 21
#define IDC_PROGRESS 22
#define IDC_HEADER_ICON 23
#define IDC_TEXT_FRAME 24
#define IDC_RICHTEXT 200
