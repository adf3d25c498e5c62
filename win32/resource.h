// SPDX-License-Identifier: MIT
// Resource and command ids of the Windows desktop program, shared by the
// resource script and the code. Plain defines: windres reads this file too.
#pragma once

// Resources.
#define IDD_ABOUTBOX 100
#define IDR_MAINFRAME 128
#define IDS_UNTITLED 129  // a new document's title
#define IDC_STATIC (-1)

// The framework's string for the application title.
#define AFX_IDS_APP_TITLE 57344

// The program's own command.
#define ID_TABLE_CLEAR 32836

// The framework's standard commands. Only exit and about are served; the
// rest arrive through the accelerator table and are left alone.
#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_FILE_SAVE 57603
#define ID_EDIT_COPY 57634
#define ID_EDIT_CUT 57635
#define ID_EDIT_PASTE 57637
#define ID_EDIT_UNDO 57643
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665
#define ID_NEXT_PANE 57680
#define ID_PREV_PANE 57681

// The view's child id within the frame.
#define AFX_IDW_PANE_FIRST 0xE900
