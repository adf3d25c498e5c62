// SPDX-License-Identifier: MIT
// The texts and the about box layout both desktop programs show, written once.
// Plain defines of UTF-8 literals: the wx program reads them through
// app/resource.h, and windres reads this file through the C preprocessor for
// win32/rigplot.rc, whose code page 65001 keeps the bytes as they are here.
#pragma once

#define RIGPLOT_APP_TITLE "RIGPLOT"
#define RIGPLOT_UNTITLED "無題"  // a new document's title

// Menu captions; "&" marks the mnemonic.
#define RIGPLOT_MENU_EXIT "終了(&X)"
#define RIGPLOT_MENU_EXIT_ITEM "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)"
#define RIGPLOT_MENU_SETTINGS "設定(&S)"
#define RIGPLOT_MENU_TABLE_CLEAR_ITEM "テーブルクリアー(&C)"
#define RIGPLOT_MENU_HELP "ﾍﾙﾌﾟ(&H)"
#define RIGPLOT_MENU_ABOUT_ITEM "RIGPLOTインターフェース　V.00.3"

// The about box: 231 x 54 dialog units in its own font, centred over the
// owner. Rectangles are x, y, width, height in dialog units.
#define RIGPLOT_ABOUT_CAPTION "RIGPLOTのﾊﾞｰｼﾞｮﾝ情報"
#define RIGPLOT_ABOUT_TEXT "RIGPLOT インターフェース V.00.3"
#define RIGPLOT_ABOUT_OK "OK"
#define RIGPLOT_ABOUT_FONT_FACE "ＭＳ Ｐゴシック"
#define RIGPLOT_ABOUT_FONT_POINTS 9
#define RIGPLOT_ABOUT_RECT 0, 0, 231, 54
#define RIGPLOT_ABOUT_ICON_RECT 13, 15, 20, 20
#define RIGPLOT_ABOUT_TEXT_RECT 44, 10, 119, 8
#define RIGPLOT_ABOUT_OK_RECT 174, 7, 50, 14
