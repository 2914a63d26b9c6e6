// A check of a Windows bitmap file before the platform's loader reads it.
#pragma once

// 1 when the file is a bitmap whose header, colour table, sizes and bits
// (including every run of a run-length encoded one) lie within the file
// and describe a picture the loader can make; 0 for anything damaged.
int BitmapFileSound(const char* fileName);
