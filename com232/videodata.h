// Video line transfer in 64- or 256-word blocks, and the array helpers of the strip chart.
#pragma once

// The last video line that arrived whole; a line with a short block leaves it as it was.
extern unsigned short adcbuf[256];
// Blocks that arrived short since the port was opened, and whether the last line was held.
extern int shortVideoBlocks;
extern bool videoLineHeld;

// A line is the blocks from start 0 up to the one that reaches word 255; adcbuf takes it when
// its last block came in.
int ReadData64(int start, int last);
int ReadData256();
// One whole line in the blocks the board takes (four of 64 words on boards 0 and 100, else one of
// 256), read straight from the input queue with the frame callback disarmed and armed again after.
void ReadVIDEOLine();
// 0, or -20003 when n < 1.
int Copy1D(const double *in, int n, double *out);
// Moves n values by shifts places (positive: towards higher indices), zero-filling; safe in place.
// 0, or -20003 when n < 1, or -20102 when |shifts| >= n.
int Shift(const double *in, int n, int shifts, double *out);
