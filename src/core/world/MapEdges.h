#pragma once

namespace gridmorph {

// The four edges of a map or a region in metres, by name, so that no caller depends on an
// order (maps are often given west-north-east-south, regions west-south-east-north).
struct SMapEdges {
    double dWest = 0.0;
    double dNorth = 0.0;
    double dEast = 0.0;
    double dSouth = 0.0;
};

}  // namespace gridmorph
