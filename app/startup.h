// startup.h - the start-up steps that do not depend on the windowing
// library: the buildings', board's and camera's records, the fixed lighting.
//
// Usage:
//     initRecords();           // before the first frame
//     setUpLighting();         // once a GL context is current
#ifndef APP_STARTUP_H
#define APP_STARTUP_H

// The buildings' corner tables; board pattern 8 x 6, unit squares, origin at
// corner 0, and its world coordinates; camera not calibrated, clipping
// distances 1 and 100.
void initRecords();

// Light 0 and the back-face material, in eye coordinates.
void setUpLighting();

#endif
