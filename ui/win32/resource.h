#pragma once

// Resource ids shared by the resource script and the code.
#define IDB_BANNER 101
