// Identifiers of the resources in palvo.rc, shared with the code.
#pragma once

// The PIN dialog's identifiers (IDD_PIN, IDC_PIN_EDIT) live with its code in link/.
#include "link/pin_dialog.h"

// Menus, menu bar template, accelerators, string.
#define IDM_MAIN 102
#define IDR_MENUBAR 117
#define IDA_MAIN 105
#define IDS_FILE 40030

// Dialogs.
#define IDD_DESTINATION 111
#define IDD_STATUS 116

// Icons: the program, the list rows and the toolbar images.
#define IDI_PROGRAM 103
#define IDI_IMAGE 106
#define IDI_NET 107
#define IDI_MUSIC 108
#define IDI_CARD 109
#define IDI_OTHER 110
#define IDI_GET_LISTING 112
#define IDI_DOWNLOAD 113
#define IDI_UPLOAD 114
#define IDI_ADDRESS_BOOK 118
#define IDI_MAIL 119
#define IDI_BOOKMARKS 120

// Commands.
#define IDC_CLOSE 40016
#define IDC_GET_LISTING 40017
#define IDC_DOWNLOAD 40018
#define IDC_UPLOAD 40019

// Controls.
#define IDC_NAME_EDIT 1000
#define IDC_KIND_COMBO 1002
#define IDC_STATUS_TEXT 1004
#define IDC_CATEGORY_LABEL 1005
#define IDC_LISTING 1111
#define IDC_COMMAND_BAR 1
