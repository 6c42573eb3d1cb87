/* planted_runtime.cpp -- device code that would need the C++ runtime: a
 * static object with a constructor and destructor, and operator new.  The
 * runtime check has to find each in this program's link map. */
#include <windows.h>

struct Planted {
    Planted() { Ticks = GetTickCount(); }
    ~Planted() { Ticks = 0; }
    DWORD Ticks;
};

static Planted planted;

DWORD *PlantedAllocation(void)
{
    return new DWORD(planted.Ticks);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand)
{
    return *PlantedAllocation() != 0;
}
