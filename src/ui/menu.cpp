#include "ui/menu.h"

static MenuState g_menu;

MenuState &menu_state() {
    return g_menu;
}
