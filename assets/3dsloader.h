// 3dsloader.h - reads one textured triangle mesh from a file in the 3DS chunk
// format into a fixed-capacity record.
//
// A flat chunk walker: it steps into the main (0x4D4D), editor (0x3D3D),
// object (0x4000, whose name it reads) and mesh (0x4100) chunks by their
// headers, reads the vertices (0x4110), triangles (0x4120, face flags read and
// dropped) and texture coordinates (0x4140), and skips every other chunk whole
// by its length. Every header and value read is echoed to the trace (standard
// output for Load3DS). Several objects load one after the other into the same
// arrays, each list from index 0; the counts are those of the last lists.
//
// Limits: 8000 vertices, triangles and texture coordinates; names keep their
// first 19 characters. A count above 8000, a triangle index at or above 8000,
// a chunk length below 6 or past the end of the file, or a truncated file stops
// the load: result 0, one line on standard error, the record left as it was.
// Triangle indexes are not checked against the vertex count.
//
// Usage:
//     static obj_type ship;
//     if (!Load3DS(&ship, path)) { /* missing or malformed: ship unchanged */ }
#ifndef ASSETS_3DSLOADER_H
#define ASSETS_3DSLOADER_H

#include <cstdio>

constexpr int kMeshCapacity = 8000;  // entries in each array of obj_type

struct mesh_vertex {
    float x, y, z;
};

struct mesh_polygon {
    int a, b, c;  // indexes into vertices and mapping
};

struct mesh_mapping {
    float u, v;
};

struct obj_type {
    char name[20];
    int vertex_count;
    int polygon_count;
    mesh_vertex vertices[kMeshCapacity];
    mesh_polygon polygons[kMeshCapacity];
    mesh_mapping mapping[kMeshCapacity];  // one per vertex, same index
    int texture_id;                       // set by the caller, never by the loader
};

// Opens path, walks it into object with the trace on standard output, closes
// it. 1 on success (an empty file included), 0 if the file cannot be opened
// (silently) or is malformed (one line on standard error).
int Load3DS(obj_type* object, char* path);

// The walk itself: reads the chunks of stream from its current position until
// position length, tracing to trace (nullptr: no trace) and naming fileName in
// error messages. Same results as Load3DS; object is written only on success.
int read3DSChunks(obj_type* object, FILE* stream, long long length,
                  const char* fileName, FILE* trace);

#endif
