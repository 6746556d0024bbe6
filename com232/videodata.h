// Video line transfer in 64- or 256-word blocks, and the array helpers of the strip chart.
#pragma once

extern unsigned short adcbuf[256];

int ReadData64(int start, int last);
int ReadData256();
// 0, or -20003 when n < 1.
int Copy1D(const double *in, int n, double *out);
// Moves n values by shifts places (positive: towards higher indices), zero-filling; safe in place.
// 0, or -20003 when n < 1, or -20102 when |shifts| >= n.
int Shift(const double *in, int n, int shifts, double *out);
