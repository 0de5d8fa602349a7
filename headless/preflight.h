#pragma once

#include "headless/options.h"

// Everything a run needs from outside, checked before the scene is built:
// every file to be written has a folder that exists and takes files, a state
// to load is a file, and the video's encoder can encode one frame of the
// run's size. Options that do nothing alone are noted on stderr. False, with
// the reason on stderr, when the run cannot start (exit code 2).
bool Preflight(const Options& options);
