// The compare view: two parameter sets side by side, word by word, differences highlighted.
#pragma once

// Reads parameter set `source` (an index into the source names) into words; 0 when read,
// otherwise below 0 with the reason (Latin-1) in reason.
typedef int (*ParameterSetReader)(int source, unsigned short *words, char *reason, int reasonSize);

// Shows the view with firstSource and secondSource chosen until the operator closes it; the
// operator may choose other sources meanwhile. Names are Latin-1.
int CompareParameterSetsPopup(const char *const *sourceNames, int sourceCount,
                              const char *const *wordNames, int wordCount, int firstSource,
                              int secondSource, ParameterSetReader reader);
