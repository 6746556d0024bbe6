// Sensor identification: the hardware and firmware queries, and what the panel derives from them.
#pragma once

extern unsigned short ccdtype, ccdmaxpixel, ccdresolution, pcbtype, ccdmaxpixelX8, ccdsubpixel,
    ccdpixB, ccdpixE, softversion;
extern double xArray[256];
extern double xArray8[256];
extern unsigned short YAXISMAX;
extern unsigned short pixB, pixE;
extern char szVersion[73];

int GetHARDWAREInfo();
int GetVERSIONInfo();
