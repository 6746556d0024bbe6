// The parameter file: the 16 parameter words as decimal text, one per line.
#pragma once

// Saves the panel's parameter set to file_name; the status line names the file on failure.
void SendParaToFile();
// Asks for a file and loads it into pp and the parameter variables. 1 when loaded, 0 when the
// dialog was cancelled, below 0 when the file could not be used (the parameter set is then
// unchanged and the status line says why).
int ReadParaFromFile();
// Shows the status text for a failed file operation on the named file.
void reportParameterFileError(int code, const char *path);
