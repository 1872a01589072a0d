// state.cpp - the viewer's globals and their values before start-up.
#include "state.h"

Movie movie = {};
Chess chess = {};
Camera camera = {};
Lens lens = {};
Point3d predio1[8] = {};
Point3d predio2[8] = {};
Scene scene = builtInScene();
obj_type object = {};

double rotation_z = 180.0;
double rotation_z_increment = 18.0;
double translacao_x = 341.0;
double translacao_y = -830.0;
double translacao_z = -60.0;
double translacao_z_increment = 30.0;
double translacao_xy_increment = 50.0;

void setXYZ(Point3d* p, double x, double y, double z) {
    p->x = x;
    p->y = y;
    p->z = z;
}
