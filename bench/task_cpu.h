// CPU time of this process's threads, told apart by thread ID: the load programs start the
// library's threads beside the simulated box's and measure only the library's.
#pragma once

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace bench {

// The IDs of this process's threads now.
inline std::set<int> tasks() {
    std::set<int> ids;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ids.insert(std::atoi(e->d_name));
        closedir(d);
    }
    return ids;
}

// Their CPU time so far, in milliseconds (/proc/self/task/<tid>/schedstat counts nanoseconds).
inline double task_cpu_ms(const std::set<int>& ids) {
    double ns = 0;
    for (int id : ids) {
        std::ifstream f("/proc/self/task/" + std::to_string(id) + "/schedstat");
        double run = 0;
        if (f >> run) ns += run;
    }
    return ns / 1e6;
}

// The threads started since `before` was taken.
inline std::set<int> tasks_since(const std::set<int>& before) {
    std::set<int> ids;
    for (int id : tasks())
        if (!before.count(id)) ids.insert(id);
    return ids;
}

}  // namespace bench
