// The sensor's 16-word parameter set and measurement answer, and the copies between the
// variables and the frame words.
#pragma once

// Parameter words 0 to 15.
extern unsigned short power, pMode, vThd, anaMode, polarity, eMode, eBeg, eEnd, tVal, tTol, opMode,
    eHardware, para12, para13, average, para15;

// Measurement words of the answer to command 8 (word 3 goes to tVal).
extern unsigned short Ledge, Redge, Mvalue, tol, pix1, edcnt, mvstart, mvend, freevar, anaMax,
    anaMin, leftMax, rightMax, in0;

// The variable behind parameter word 0 to 15.
unsigned short *parameterVariable(int word);
void CopyVarsToPP();
void CopyPPtoVars();
// Words 0 to 14 of pp into the measurement variables.
void CopyPPtoMeasurement();
