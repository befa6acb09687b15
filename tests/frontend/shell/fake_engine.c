/* Engines for the binding tests: each answers mvxISP with its own number and
 * reports it as the data length of mvxGetFileInfo, so a test can tell which
 * library it called.  FAKE_ENGINE_HALF builds one without mvxGetFileInfo. */
#include <stdint.h>

int mvxISP(int a0, int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8, const void *a9,
           int a10, int a11, const void *a12, const void *a13, int a14, int a15, const void *a16);

int mvxISP(int a0, int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8, const void *a9,
           int a10, int a11, const void *a12, const void *a13, int a14, int a15, const void *a16)
{
    (void)a0; (void)a1; (void)a2; (void)a3; (void)a4; (void)a5; (void)a6; (void)a7; (void)a8;
    (void)a9; (void)a10; (void)a11; (void)a12; (void)a13; (void)a14; (void)a15; (void)a16;
    return FAKE_ENGINE_ID;
}

#ifndef FAKE_ENGINE_HALF
int mvxGetFileInfo(const char *path, int format, int bank, int operation, int eraseMode,
                   int eraseLength, int *dataLength, int *programLength, int *checksum, int *crc,
                   const void *window, int sectorEraseFlag, int sectorEraseBank);

int mvxGetFileInfo(const char *path, int format, int bank, int operation, int eraseMode,
                   int eraseLength, int *dataLength, int *programLength, int *checksum, int *crc,
                   const void *window, int sectorEraseFlag, int sectorEraseBank)
{
    (void)path; (void)format; (void)bank; (void)operation; (void)eraseMode; (void)eraseLength;
    (void)programLength; (void)checksum; (void)crc; (void)window; (void)sectorEraseFlag;
    (void)sectorEraseBank;
    if (dataLength)
        *dataLength = FAKE_ENGINE_ID;
    return 0;
}
#endif
