#include "Progress.h"

#include <unistd.h>
#include <cstdio>

namespace tarsk::render {

Progress::Progress(std::string label_, int total_, bool enabled_)
    : label(std::move(label_)),
      total(total_ > 0 ? total_ : 1),
      enabled(enabled_),
      terminal(::isatty(2) != 0),
      start(std::chrono::steady_clock::now()),
      lastDraw(start)
{}

void Progress::advance(int done)
{
    int now = completed.fetch_add(done, std::memory_order_relaxed) + done;
    if (!enabled) return;
    std::unique_lock<std::mutex> lock(drawing, std::try_to_lock);
    if (!lock.owns_lock()) return;  // another thread is drawing; skipping a redraw is harmless
    auto elapsed = std::chrono::steady_clock::now() - lastDraw;
    if (elapsed < (terminal ? std::chrono::milliseconds(100) : std::chrono::milliseconds(5000))) return;
    draw(now, false);
}

void Progress::finish()
{
    if (!enabled) return;
    std::lock_guard<std::mutex> lock(drawing);
    draw(completed.load(), true);
}

void Progress::draw(int done, bool final)
{
    lastDraw = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(lastDraw - start).count();
    int percent = static_cast<int>(100.0 * done / total);
    if (terminal) {
        constexpr int kWidth = 30;
        int filled = kWidth * done / total;
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(kWidth - filled), '.');
        std::fprintf(stderr, "\r%s [%s] %3d%% %.1fs%s", label.c_str(), bar.c_str(), percent, seconds,
                     final ? "\n" : "");
    } else {
        std::fprintf(stderr, "%s: %d%% (%.1fs)\n", label.c_str(), percent, seconds);
    }
    std::fflush(stderr);
}

}  // namespace tarsk::render
