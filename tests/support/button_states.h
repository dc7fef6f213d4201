// The four run buttons' enabled states as one value, and the states each run state shows,
// for tests of the core and of the window. Thread: any.
#pragma once

#include <ostream>

struct Buttons {
    bool start, stop, change, run;
    bool operator==(const Buttons&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Buttons& b) {
    return out << "start " << b.start << ", stop " << b.stop << ", change " << b.change << ", run "
               << b.run;
}
constexpr Buttons kReady{true, false, true, false};
constexpr Buttons kDownloading{false, true, false, false};
constexpr Buttons kStopped{true, false, true, false};
constexpr Buttons kFailed{true, false, true, false};
constexpr Buttons kCompleted{false, false, false, true};
constexpr Buttons kLaunching{false, false, false, false};
