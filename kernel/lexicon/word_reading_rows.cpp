// The word reading rows compiled into the kernel. No open source of character
// decompositions with readings is packaged yet, so the table ships empty and
// every look-up answers "no row".
#include "kernel/lexicon/letter_tables.h"

const t_wordReadingRow* const kWordReadingRows = nullptr;
const int kWordReadingRowCount = 0;
