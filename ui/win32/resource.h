#pragma once

// Resource ids shared by the resource script and the code.
#define IDB_BANNER 101
#define IDD_FAILURE_LIST 102
#define IDC_FAILURE_TEXT 1001
#define IDC_FAILURE_DETAILS 1002
