// The X server a benchmark drives fresh programs on (run it under Xvfb): it sees their windows
// map and presses keys and buttons as a user would; and the start of those programs. Bench code
// only.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

// In a forked child: runs the program (its path, then its arguments); never returns.
[[noreturn]] inline void ExecProgram(const std::vector<std::string>& program)
{
    std::vector<char*> argv;
    for (const std::string& word : program)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

class BenchDisplay {
public:
    BenchDisplay() : display_(XOpenDisplay(nullptr))
    {
        if (!display_) {
            std::fprintf(stderr, "no X display: run under Xvfb (xvfb-run -a ...)\n");
            std::exit(2);
        }
        root_ = DefaultRootWindow(display_);
        XSelectInput(display_, root_, SubstructureNotifyMask);
        XSync(display_, False);
    }
    ~BenchDisplay() { XCloseDisplay(display_); }
    BenchDisplay(const BenchDisplay&) = delete;
    BenchDisplay& operator=(const BenchDisplay&) = delete;

    // Forgets what happened so far: the next window waited for is a new one.
    void Drain()
    {
        XSync(display_, False);
        XEvent event;
        while (XPending(display_))
            XNextEvent(display_, &event);
    }

    Window WaitForMappedWindow()
    {
        for (;;) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect)
                return event.xmap.window;
        }
    }

    // A click of the first button at (x, y) of the window's inside.
    void Click(Window window, int x, int y)
    {
        int left = 0;
        int top = 0;
        Window child = 0;
        XTranslateCoordinates(display_, window, root_, 0, 0, &left, &top, &child);
        XTestFakeMotionEvent(display_, DefaultScreen(display_), left + x, top + y, 0);
        XTestFakeButtonEvent(display_, 1, True, 0);
        XTestFakeButtonEvent(display_, 1, False, 0);
        XSync(display_, False);
    }

    void PressKey(const char* name)
    {
        const unsigned int key = XKeysymToKeycode(display_, XStringToKeysym(name));
        XTestFakeKeyEvent(display_, key, True, 0);
        XTestFakeKeyEvent(display_, key, False, 0);
        XSync(display_, False);
    }

private:
    Display* display_;
    Window root_;
};
