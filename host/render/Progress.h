// Progress: a progress bar on stderr for a running render: redrawn in place when stderr is a
// terminal, one line every few seconds otherwise. Safe to call from every render thread.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

namespace tarsk::render {

class Progress {
public:
    Progress(std::string label, int total, bool enabled);
    // Counts `done` more units and redraws when it is time.
    void advance(int done = 1);
    // Draws the final state and ends the line.
    void finish();

private:
    void draw(int done, bool final);

    std::string label;
    int total;
    bool enabled;
    bool terminal;
    std::atomic<int> completed{0};
    std::mutex drawing;
    std::chrono::steady_clock::time_point start, lastDraw;
};

}  // namespace tarsk::render
