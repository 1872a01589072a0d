/* A C program using the installed calibration library: projects a board
   through a known camera, calibrates it back and refines the result. */
#include <math.h>
#include <stdio.h>
#include <tsai.h>

int main(void) {
    const double R[9] = {1, 0, 0, 0, 0.8, -0.6, 0, 0.6, 0.8}, T[3] = {-3.5, -1, 15};
    double wx[48], wy[48], ix[48], iy[48], f, Tout[3], Rout[9];
    for (int k = 0; k < 48; ++k) {
        wx[k] = k % 8;
        wy[k] = k / 8;
        tsaiProject(wx[k], wy[k], 0, &ix[k], &iy[k], 700, T, R);
    }
    if (!tsaiCalibration2D(48, wx, wy, ix, iy, &f, Tout, Rout) || fabs(f - 700) > 1e-6) {
        fprintf(stderr, "consumer: calibration failed (f = %g)\n", f);
        return 1;
    }
    if (!tsaiRefineCalibration(48, wx, wy, ix, iy, &f, Tout, Rout) ||
        !tsaiRefinePose(48, wx, wy, ix, iy, f, Tout, Rout) || fabs(f - 700) > 1e-6) {
        fprintf(stderr, "consumer: refinement failed (f = %g)\n", f);
        return 1;
    }
    printf("consumer: f = %.3f\n", f);
    return 0;
}
