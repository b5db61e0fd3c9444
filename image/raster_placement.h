// Placement of a georeferenced raster in a mosaic's pixel space.
#pragma once

// Sets `support` to a width x height rectangle whose first column is `column` and whose first
// row is -`row_up`, both rounded the system's way (add 0.5, drop the fraction toward zero).
// Throws Error when the rectangle does not fit in the int pixel space.
void place_support(int support[2][2], double column, double row_up, int width, int height);
