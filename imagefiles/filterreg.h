// Registration of the saver's own import filter, which reads PNG, JPEG, GIF
// and TIFF pictures.
#pragma once

// The file name setup gives the filter.
#define IMPORT_FILTER_FILE "VIVIMP32.FLT"

// Registers the filter at `filterPath` (a full path of less than 128
// characters) for png, jpg, jpeg, gif, tif and tiff: one sub-key each under
// the graphics import filters key, since a filter's "Extensions" value is
// compared as a whole with one extension. 1 when every key was written.
int RegisterImportFilter(const char* filterPath);
// Removes the sub-keys RegisterImportFilter writes.
void UnregisterImportFilter(void);
