#include "data/recall.h"

void recall_files(Run&) {}
