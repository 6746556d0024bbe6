// Parameter and measurement words: which variable sits in which word of a frame.
#include "com232/paraframe.h"
#include "com232/rs232link.h"

unsigned short power, pMode, vThd, anaMode, polarity, eMode, eBeg, eEnd, tVal, tTol, opMode,
    eHardware, para12, para13, average, para15;
unsigned short Ledge, Redge, Mvalue, tol, pix1, edcnt, mvstart, mvend, freevar, anaMax, anaMin,
    leftMax, rightMax, in0;

namespace {
unsigned short *const parameterWords[PNUM] = {
    &power, &pMode, &vThd,   &anaMode,   &polarity, &eMode,  &eBeg,    &eEnd,
    &tVal,  &tTol,  &opMode, &eHardware, &para12,   &para13, &average, &para15};
unsigned short *const measurementWords[PNUM - 1] = {&Ledge,  &Redge,  &Mvalue,  &tVal,     &tol,
                                                    &pix1,   &edcnt,  &mvstart, &mvend,    &freevar,
                                                    &anaMax, &anaMin, &leftMax, &rightMax, &in0};
} // namespace

unsigned short *parameterVariable(int word) {
    return word >= 0 && word < PNUM ? parameterWords[word] : nullptr;
}

void CopyVarsToPP() {
    for (int i = 0; i < PNUM; ++i)
        pp[i] = *parameterWords[i];
}

void CopyPPtoVars() {
    for (int i = 0; i < PNUM; ++i)
        *parameterWords[i] = pp[i];
}

void CopyPPtoMeasurement() {
    for (int i = 0; i < PNUM - 1; ++i)
        *measurementWords[i] = pp[i];
}
