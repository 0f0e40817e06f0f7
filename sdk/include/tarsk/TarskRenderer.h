// TarskRenderer: what a render hands to the plug-in's lifecycle callbacks: the globals (render
// thread count, message log) and the current frame (its time). A host program creates one per
// render and moves the frame time along between frames.
#pragma once

#include <cstdint>

namespace TUtils {

class TarskMessageLog;

struct TarskRenderGlobals {
    int32_t numThreads = 1;
    TarskMessageLog* messageLog = nullptr;  // may be null: then plug-ins report nothing
};

struct TarskFrame {
    double frameTime = 0.0;
};

class TarskRenderer {
public:
    // A render uses at least one thread; a smaller count is raised to 1.
    TarskRenderer(int32_t numThreads, double frameTime, TarskMessageLog* messageLog) noexcept;

    int32_t numThreads() const noexcept { return globals.numThreads; }
    double frameTime() const noexcept { return frame.frameTime; }
    TarskMessageLog* messageLog() const noexcept { return globals.messageLog; }
    void setFrameTime(double time) noexcept { frame.frameTime = time; }

    TarskRenderGlobals globals;
    TarskFrame frame;
};

}  // namespace TUtils
