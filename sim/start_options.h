// fsu-sim's start options: how the box is built and shown. fsu-sim's command line reads them, and
// so does a scenario's `box` line (sim/scenario.h), option for option.
//
//   --modem-csq 10 --silent 2            switches, under their own names (sim/switches.h)
//   --device 2=modbus,file=meter.json    a device behind a Uart (sim/device.h)
//   --bridge 1:2:5020 --gps-capture F --export N --http PORT --http-bind ADDR --no-http --quiet
#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "sim/box.h"
#include "sim/control.h"

namespace sim {

// A board channel served on 127.0.0.1:port instead of its device.
struct Bridge {
    int board, channel, port;
};

struct StartOptions {
    StartOptions();  // a box for people: the receiver streams, the environment equipment answers
    Options box;
    std::vector<Bridge> bridges;
    bool quiet = false;  // no trace
    bool http = true;    // the control server
    ControlOptions control;
};

// Reads the start option at args[i] into `into`, moving i past its argument. False when args[i] is
// none; throws std::invalid_argument saying what is wrong with one.
bool read_start_option(std::span<const std::string> args, std::size_t& i, StartOptions& into);
// Takes the files the options name (devices' files, a receiver capture) from `base` when relative.
void resolve_files(StartOptions& options, const std::filesystem::path& base);
// The start options' lines of fsu-sim's usage.
std::string start_usage();

}  // namespace sim
