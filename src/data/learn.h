// Learn mode: learns centres from every data-file argument in turn.
#pragma once

#include "cli/run.h"

void learn_files(Run& run);
