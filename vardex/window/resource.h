// Resource IDs of Vardex.exe, read by the resource compiler and by the code.
#pragma once

// The smiley has the lowest ID, so it is the program's icon in the shell.
#define IDI_VARDEX 1
#define IDI_TIMER_OFF 2
#define IDI_TIMER_ON 3
// One to seven eighths of the dial filled: IDI_DIAL1 + k - 1.
#define IDI_DIAL1 11
#define IDI_DIAL2 12
#define IDI_DIAL3 13
#define IDI_DIAL4 14
#define IDI_DIAL5 15
#define IDI_DIAL6 16
#define IDI_DIAL7 17
