// EPSG projected coordinate system codes of the USGS DOQ coordinate systems.
#pragma once

// coordinate_system: 0 geographic (refused), 1 UTM (northern zones), 2 state plane with
// zone = state code x 100 + zone number. datum: 6267 NAD27, 6269 NAD83, 6322 WGS72, 6326 WGS84.
// Throws Error with the reader's message for anything it cannot name.
int doq_projected_cs(int coordinate_system, int zone, int datum);
