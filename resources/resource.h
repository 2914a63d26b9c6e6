// Resource identifiers shared by the program and its resource script.
#pragma once

#define IDS_DESCRIPTION 1
#define DLG_SCRNSAVECONFIGURE 2003
