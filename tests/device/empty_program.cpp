/* empty_program.cpp -- a program that does nothing, linked as the device
 * program's stand-in is: its size is what the desktop's start-up code and
 * headers cost, which the device program does not carry (the device's C
 * library is in coredll). */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand)
{
    return 0;
}
