// lens.h -- how the robot and robotlens.dll hand a picture across.
//
// Windows of the programs under test share one screen, and a window of
// another test can lie over the one the robot looks at; a copy of the
// screen would show that window instead.  So the picture is taken inside
// the program: the robot hooks the window's thread with robotlens.dll
// (SetWindowsHookExW, WH_CALLWNDPROC) and sends the window LensMessage.  In
// that thread the hook has the window paint itself at once and copies the
// window's own device context into memory the robot shares (a file mapping
// named by MappingName), then the robot reads it.
//
// The same library keeps a watch on a thread's queue: armed with
// ArmMessageName (sent the same way, naming a mapping that starts with a
// Watch), WatchHook (WH_GETMESSAGE) marks the watch done once the thread
// takes the awaited message off its queue.  A thread takes what was posted
// to it in order, and before anything typed, so by then it has dealt with
// everything posted or typed before that message.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cwchar>

namespace lens {

// Registered window message: wParam is the request number, lParam the
// robot's process id; together they name the mapping.
inline const wchar_t *MessageName() { return L"VelkorRobotLens"; }
// Exported by robotlens.dll.
inline const char *HookName() { return "LensHook"; }

const uint32_t Magic = 0x534E454C;   // "LENS"

// The start of the mapping; width * height pixels (BGRA, rows top-down)
// follow it.  The robot fills in everything but `done`; the hook sets
// `done` to 1 once the pixels are there.
struct Header {
    uint32_t magic;
    int32_t width;
    int32_t height;
    uint32_t whole;      // 1: the window with its frame and caption; 0: its client area
    volatile uint32_t done;
    uint32_t reserved[3];
};

// Registered window messages: arming a watch (wParam and lParam as for
// MessageName), and a mark the robot posts to be watched for.
inline const wchar_t *ArmMessageName() { return L"VelkorRobotWatch"; }
inline const wchar_t *MarkMessageName() { return L"VelkorRobotMark"; }
// Exported by robotlens.dll.
inline const char *WatchHookName() { return "WatchHook"; }

// The whole mapping of a watch: the message awaited, and `done` that the
// hook sets to 1 when the thread has taken it.
struct Watch {
    uint32_t magic;
    uint32_t message;
    uint64_t wParam;
    volatile uint32_t done;
    uint32_t reserved[3];
};

inline void MappingName(wchar_t *out, size_t capacity, unsigned long robotProcess, unsigned long request)
{
    swprintf(out, capacity, L"VelkorRobotLens-%lu-%lu", robotProcess, request);
}

}  // namespace lens
