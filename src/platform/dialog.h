// Modal message boxes for fatal conditions.
#pragma once

// Formats at most 1023 characters and shows a modal box with an OK button. Without a
// display, or in headless mode, the title and text go to stderr and nothing blocks.
void show_error_box(const char *title, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// In headless mode no dialog is ever shown.
void dialog_set_headless(bool headless);
// The message-box back end (set by the window layer once it exists); returns false
// when no box could be shown, so the text goes to stderr instead.
void dialog_set_backend(bool (*show)(const char *title, const char *text));
