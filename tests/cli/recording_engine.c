/*
 * A stand-in engine for the command-line tests: it writes every call's
 * arguments, the file table's used entries, the option record and the bus
 * chosen in the environment as "name=value" lines to $MVX_RECORD_FILE
 * (appending), and answers $MVX_RECORD_RESULT (0 when unset).
 * mvxGetFileInfo reports fixed numbers: data 1234, program 4096, checksum
 * 0x1F, CRC 0x0A.
 */
#include <stdio.h>
#include <stdlib.h>

#include "mvxisp.h"

#define EXPORT __attribute__((visibility("default")))

static int answer(void)
{
    const char *text = getenv("MVX_RECORD_RESULT");
    return text != NULL ? atoi(text) : 0;
}

static FILE *record(void)
{
    const char *path = getenv("MVX_RECORD_FILE");
    return path != NULL ? fopen(path, "a") : NULL;
}

EXPORT int mvxISP(int adapterKind, int operation, int eraseOnly, int slaveSelector, int verifyByChecksum,
                  int eraseMode, int eraseLength, int flashBrand, int reserved, const FileTableEntry *fileTable,
                  int libraryMode, int idReadMode, const MvxWindow *ownerWindow,
                  const FlashProtectSettings *protect, int sectorEraseFlag, int sectorEraseBank,
                  const IspOptions *o)
{
    FILE *out = record();
    const char *bus = getenv("MVX_I2C_BUS");
    int i;
    if (out == NULL)
        return 70;
    fprintf(out, "call=mvxISP\nadapterKind=%d\noperation=%d\neraseOnly=%d\nslaveSelector=%d\n", adapterKind,
            operation, eraseOnly, slaveSelector);
    fprintf(out, "verifyByChecksum=%d\neraseMode=%d\neraseLength=%d\nflashBrand=%d\nreserved=%d\n",
            verifyByChecksum, eraseMode, eraseLength, flashBrand, reserved);
    fprintf(out, "libraryMode=%d\nidReadMode=%d\nwindow=%d\nsectorEraseFlag=%d\nsectorEraseBank=%d\n",
            libraryMode, idReadMode, ownerWindow != NULL, sectorEraseFlag, sectorEraseBank);
    fprintf(out, "protect=%d,%d,%d,%d\n", protect->enable_protect, protect->scalar_type, protect->pin_type,
            protect->value);
    for (i = 0; i < MVX_FILE_TABLE_SIZE; ++i)
        if (fileTable[i].inUse != 0)
            fprintf(out, "entry%d=%d,%d,%s\n", i, fileTable[i].inUse, fileTable[i].format, fileTable[i].path);
    fprintf(out, "options=%d,%d,%d,%d|%d,%d,%d|%d,%d,%d,%d,%d|%d,%d,%d|%d,%d,%d,%d|%d,%d,%s,%d,%d,%s,%d|%d,%d\n",
            o->checkVGAconn_delay, o->beforeshowCKSM_delay, o->enable_isprepeattest, o->isprepeat_counter,
            o->enable_sete2e3output, o->ffe2_value, o->ffe3_value, o->enable_read_ic_code,
            o->enable_show_isp_enableoption, o->enable_check_ic_code_before_isp, o->ic_code_check_value,
            o->ispEnable, o->enable_masserasebeforeauto4flash, o->enable_bankerasebeforeauto4flash,
            o->bankindex_erasebeforeauto4flash, o->norvane_usb_frequency, o->norvane_usb_ispspeed,
            o->other_usb_ispspeed, o->norvane_iic_ispspeed, o->enable_hdcp_key_fire,
            o->autoload_hdcp_key_file_method, o->hdcp_key_file != NULL ? o->hdcp_key_file : "(null)",
            o->hdcp_key_fire_check_method, o->enable_save_readed_hdcp_key,
            o->saveread_hdcp_key_file_path != NULL ? o->saveread_hdcp_key_file_path : "(null)",
            o->hdcp_key_file_kind, o->enable_setflashstatusafterisp, o->flashstatus_value);
    fprintf(out, "bus=%s\n", bus != NULL ? bus : "");
    fclose(out);
    if (ownerWindow != NULL && answer() != 0)
        ownerWindow->sendMessage(ownerWindow->context, WM_ISP_PROGRESS, MVX_PROGRESS_WPARAM(MVX_MSG_RUN_FAILED, 0),
                                 answer());
    return answer();
}

EXPORT int mvxGetFileInfo(const char *path, int format, int bank, int operation, int eraseMode, int eraseLength,
                          int *dataLength, int *programLength, int *checksum, int *crc,
                          const MvxWindow *ownerWindow, int sectorEraseFlag, int sectorEraseBank)
{
    FILE *out = record();
    if (out != NULL) {
        fprintf(out, "call=mvxGetFileInfo\ninfo=%s,%d,%d,%d,%d,%d,%d,%d,%d\n", path, format, bank, operation,
                eraseMode, eraseLength, ownerWindow != NULL, sectorEraseFlag, sectorEraseBank);
        fclose(out);
    }
    *dataLength = 1234;
    *programLength = 4096;
    *checksum = 0x1F;
    *crc = 0x0A;
    return answer();
}
