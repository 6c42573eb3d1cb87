// lens.cpp -- robotlens.dll, the robot's eye inside the program it drives
// (lens.h says how it is called).  It only ever reads: it has a window paint
// itself and copies the pixels, and it watches a thread's queue; it changes
// nothing the program keeps, and holds no state but the one armed watch of
// each thread.
#include "lens.h"

#include <cstring>

namespace {

void Copy(HWND window, unsigned long request, unsigned long robotProcess)
{
    wchar_t name[64];
    lens::MappingName(name, 64, robotProcess, request);
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name);
    if (!mapping)
        return;
    auto *header = static_cast<lens::Header *>(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    if (header && header->magic == lens::Magic && header->width > 0 && header->height > 0) {
        int width = header->width, height = header->height;
        // Painted now, in this thread, so the copy is what the window shows
        // after everything it was asked to do before.
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        HDC own = GetDCEx(window, nullptr, DCX_CACHE | (header->whole ? DCX_WINDOW : 0));
        HDC memory = CreateCompatibleDC(own);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void *bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (own && memory && bitmap) {
            HGDIOBJ old = SelectObject(memory, bitmap);
            if (BitBlt(memory, 0, 0, width, height, own, 0, 0, SRCCOPY)) {
                GdiFlush();
                std::memcpy(header + 1, bits, size_t(width) * size_t(height) * 4);
                header->done = 1;
            }
            SelectObject(memory, old);
        }
        if (bitmap)
            DeleteObject(bitmap);
        if (memory)
            DeleteDC(memory);
        if (own)
            ReleaseDC(window, own);
    }
    if (header)
        UnmapViewOfFile(header);
    CloseHandle(mapping);
}

// The watch armed on this thread: the hooks that set and read it run on
// the thread they watch.
thread_local lens::Watch *armed = nullptr;

void Disarm()
{
    if (armed)
        UnmapViewOfFile(armed);
    armed = nullptr;
}

void Arm(unsigned long request, unsigned long robotProcess)
{
    Disarm();
    wchar_t name[64];
    lens::MappingName(name, 64, robotProcess, request);
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name);
    if (!mapping)
        return;
    auto *watch = static_cast<lens::Watch *>(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    CloseHandle(mapping);   // the view keeps it
    if (watch && watch->magic == lens::Magic)
        armed = watch;
    else if (watch)
        UnmapViewOfFile(watch);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK LensHook(int code, WPARAM wParam, LPARAM lParam)
{
    static const UINT picture = RegisterWindowMessageW(lens::MessageName());
    static const UINT arm = RegisterWindowMessageW(lens::ArmMessageName());
    const auto *sent = reinterpret_cast<const CWPSTRUCT *>(lParam);
    if (code == HC_ACTION && sent && picture && sent->message == picture)
        Copy(sent->hwnd, static_cast<unsigned long>(sent->wParam), static_cast<unsigned long>(sent->lParam));
    else if (code == HC_ACTION && sent && arm && sent->message == arm)
        Arm(static_cast<unsigned long>(sent->wParam), static_cast<unsigned long>(sent->lParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK WatchHook(int code, WPARAM removal, LPARAM lParam)
{
    const MSG *taken = reinterpret_cast<const MSG *>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && taken && armed && taken->message == armed->message &&
        uint64_t(taken->wParam) == armed->wParam) {
        armed->done = 1;
        Disarm();
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}
