// Recall mode: classifies every data-file argument with stored centres.
#pragma once

#include "cli/run.h"

void recall_files(Run& run);
