// Cursor placement and clearing for the console screen buffer behind
// standard output (Windows only). Positions count cells of the whole buffer
// from column 0, row 0. The standard output handle is fetched at every call.
#pragma once

// Fills every cell of the buffer, not only the visible window, with a space
// in the current text attribute and puts the cursor at 0, 0. Does nothing
// when standard output is no console screen buffer.
void ClearConsole();

// The cursor's column, or -1 when standard output is no console screen buffer.
int wherex();

// The cursor's row, or -1 when standard output is no console screen buffer.
int wherey();

// Moves the cursor; column and row are cut to 16 bits. Failures pass silently.
void gotoXY(int column, int row);
