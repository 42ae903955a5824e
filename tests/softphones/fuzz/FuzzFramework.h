// The seeded fuzz framework this program runs on (seed printed, --seed=N / ORVIN_FUZZ_SEED,
// --cases=N, a guard page after every input, a last word on a crash). It lives with the
// device link's fuzzing; this is the one include to change when it moves (and
// CMakeLists.txt names its folder once, for its main).
#pragma once

#include "tests/devicelink/fuzz/Fuzz.h"
#include "tests/devicelink/fuzz/GuardedPage.h"
