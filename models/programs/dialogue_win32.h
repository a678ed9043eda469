// The console dialogue of a model program on Windows.
#pragma once

#include "program_options.h"

// Holds the dialogue in this program's console; the exit status.
int run_dialogue(const models::program_info& program);
