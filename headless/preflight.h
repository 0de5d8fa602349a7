#pragma once

#include "headless/options.h"

// Everything a run needs from outside, checked before the scene is built:
// every file to be written has a folder that exists and takes files, a state
// to load is a file, and the video's encoder can encode one frame of the
// run's size. Options that do nothing alone are noted on stderr. False, with
// the reason on stderr, when the run cannot start (exit code 2).
// Starts with OptionsAgree.
bool Preflight(const Options& options);

// The options that only together are wrong, judged without looking outside:
// a video name of no known kind, a video size odd in one side, a start both
// loaded and reseeded. False, with the reason on stderr (exit code 2).
bool OptionsAgree(const Options& options);
