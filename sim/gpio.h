// The box's sysfs GPIO tree, sys/class/gpio under the box directory: the host writes a line's
// number to "export" and the box makes gpioN/ with "value" (0), "direction" (in) and "edge"
// (none), each read back with a line end as sysfs gives it; "unexport" removes gpioN/. The box
// follows the files with inotify, so a line appears a moment after the host's write, not at
// once as in the kernel: a host that writes the direction right after the export may find it
// missing. Lines can be exported when the box is built (as an earlier run of the host leaves
// them) for a start that does not depend on that moment.
//
// The host's writes need not truncate (sysfs files have no length), so a shorter word written
// over a longer one leaves the longer one's tail ("in" over "out\n" reads "int\n"): each file is
// read by its leading word, then rewritten clean. "out" and "low" set the line to output 0,
// "high" to output 1, as the kernel does; a direction file that still reads as the line's own
// direction (as "out" written over "out\n" leaves it) changes nothing.
#pragma once

#include <sys/inotify.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct GpioLine {
    int value = 0;
    std::string direction = "in";
    std::string edge = "none";
    bool operator==(const GpioLine&) const = default;
};

class GpioTree {
  public:
    // Builds <dir>/sys/class/gpio with empty export and unexport files, removing lines an
    // earlier box left there, and watches it on the given inotify descriptor.
    GpioTree(const std::filesystem::path& dir, int inotify_fd);
    // Handles an inotify event; false when it is not about the tree. Changes are told in `trace`.
    bool on_event(const inotify_event& e, std::vector<std::string>& trace);
    // Makes gpioN/ as the kernel does on an export; an exported line stays as it is.
    void export_line(int n, std::vector<std::string>& trace);
    // Exports line n when it is not, and puts it in the given state, its files included: the
    // board's own set-up, done as the box is built.
    void preset(int n, const GpioLine& state, std::vector<std::string>& trace);
    // The exported lines, by number.
    const std::map<int, GpioLine>& lines() const { return lines_; }

  private:
    void unexport_line(int n, std::vector<std::string>& trace);
    void on_request(const std::string& file, std::vector<std::string>& trace);
    void on_line_file(int n, const std::string& file, std::vector<std::string>& trace);

    std::filesystem::path class_dir_;
    int inotify_;
    int class_watch_;
    std::map<int, int> watches_;  // inotify watch -> line
    std::map<int, GpioLine> lines_;
};

// The box's LEDs and their lines; 65535 in the library's table means no line. Active low: an
// LED is lit while its output line is 0.
struct Led {
    const char* name;  // as in "Local/Led/<name>"
    int gpio;
};
constexpr Led kLeds[] = {{"run", 1}, {"alarm", 18}, {"net", 0}, {"1", 4}};
// Whether the LED on a line is lit; nothing while the line is not exported or not an output.
std::optional<bool> led_lit(const std::map<int, GpioLine>& lines, int gpio);

// The lines the box's board set-up exports at boot, before any host runs: the four LED lines and
// GPIO 12, the cellular module's power switch. The host finds them ready, as sysfs has them.
constexpr int kBoardSetupLines[] = {1, 18, 0, 4, 12};

}  // namespace sim
