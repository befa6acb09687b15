/* The engine header must compile as plain C for third-party callers. */
#include "mvxisp.h"

int mvx_header_c_entry_size(void);
int mvx_header_c_entry_size(void) { return (int)sizeof(FileTableEntry); }

int mvx_header_c_progress_wparam(int code, int sub);
int mvx_header_c_progress_wparam(int code, int sub) { return (int)MVX_PROGRESS_WPARAM(code, sub); }
