// Menu state read and set by the main loop. The pages, widgets and their drawing and
// input are built on top of this record.
#pragma once

constexpr int kMenuClosed = -1;
constexpr int kMenuMainPage = 0;
constexpr int kMenuChatPage = 14;

struct MenuState {
    int page = kMenuClosed;      // -1 when no menu is open
    int hovered = 0;             // hovered item of the current page
    bool page_guard = false;     // set after a page change: ignore the rest of the frame's keys
    bool quit_requested = false; // set by the quit page; ends the main loop
};

MenuState &menu_state();
