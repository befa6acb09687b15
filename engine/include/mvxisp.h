/*
 * mvxisp.h - the C interface of the MVXISP engine library.
 *
 * The library exports exactly two functions, mvxISP (run one ISP operation)
 * and mvxGetFileInfo (parse one firmware file).  Both return a result code,
 * MVX_OK (0) meaning success.  Callers load the library at run time and
 * resolve the two names; nothing is kept between calls.
 */
#ifndef MVXISP_H
#define MVXISP_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(MVXISP_BUILDING_LIBRARY)
#define MVXISP_API __attribute__((visibility("default")))
#else
#define MVXISP_API
#endif

/* ---- window messages ---------------------------------------------------- */

#define WM_USER            0x0400
#define WM_ISP_PROGRESS    (WM_USER + 101)   /* 0x465: engine -> owner window */
#define WM_SETTINGS_NOTIFY (WM_USER + 102)   /* settings dialogs -> customer page */
#define WM_ISP_STOP        (WM_USER + 103)   /* page -> ISP worker thread */

/* wParam of WM_ISP_PROGRESS: (code << 8) | sub, both bytes. */
#define MVX_PROGRESS_WPARAM(code, sub) \
    ((uintptr_t)((((unsigned)(code) & 0xFFu) << 8) | ((unsigned)(sub) & 0xFFu)))
#define MVX_PROGRESS_CODE(wParam) ((int)(((uintptr_t)(wParam) >> 8) & 0xFFu))
#define MVX_PROGRESS_SUB(wParam)  ((int)((uintptr_t)(wParam) & 0xFFu))

/* Progress message codes (the code byte of wParam). */
enum MvxProgressCode {
    MVX_MSG_PAGE_ERASE_PERCENT = 0,   /* sub bank, lParam percent of the page erase */
    MVX_MSG_ERASE_RESULT       = 1,   /* sub bank, lParam MvxEraseOutcome */
    MVX_MSG_PROGRAM_PERCENT    = 2,   /* sub BankCode, lParam percent programmed */
    MVX_MSG_CRC_IMAGE          = 3,   /* sub bank, lParam CRC computed from the image */
    MVX_MSG_CRC_DEVICE         = 4,   /* sub bank, lParam CRC read from the device */
    MVX_MSG_CRC_MATCH          = 5,   /* sub bank, lParam 1 match / 0 mismatch */
    MVX_MSG_CHECKSUM_IMAGE     = 6,   /* sub bank, lParam checksum from the image */
    MVX_MSG_CHECKSUM_DEVICE    = 7,   /* sub bank, lParam checksum read from the device */
    MVX_MSG_CHECKSUM_MATCH     = 8,   /* sub bank or first 1To4 slot, lParam 1 / 0 */
    MVX_MSG_RUN_PASSED         = 9,   /* the run finished successfully */
    MVX_MSG_FILE_LOAD_FAILED   = 10,  /* sub bank */
    MVX_MSG_RUN_FAILED         = 11,  /* lParam result code */
    MVX_MSG_BANK_SEPARATOR     = 12,
    MVX_MSG_OVERALL_PERCENT    = 13,  /* lParam 0..100 */
    MVX_MSG_FLASH_IDENTIFIED   = 14,  /* sub brand (255 unknown), lParam type or -1 */
    MVX_MSG_NOT_PMC_FOR_EEPROM = 15,
    MVX_MSG_IC_CODE            = 16,  /* lParam IC code byte */
    MVX_MSG_BEYOND_FLASH       = 17   /* sub bank, lParam the identified flash's size in KB:
                                         the run would write past the end of the flash */
};

/* lParam of MVX_MSG_ERASE_RESULT. */
enum MvxEraseOutcome {
    MVX_ERASE_BANK_FAILED  = 0,
    MVX_ERASE_BANK_OK      = 1,
    MVX_ERASE_MASS_OK      = 2,
    MVX_ERASE_MASS_FAILED  = 3,
    MVX_ERASE_PAGE_FAILED  = 4,
    MVX_ERASE_PAGE_OK      = 5
};

/* ---- the owner window --------------------------------------------------- */

typedef struct MvxWindow {           /* the "owner window handle"; NULL = no messages, no box */
    void *context;
    /* synchronous: returns once the window's thread has handled the message */
    intptr_t (*sendMessage)(void *context, uint32_t message, uintptr_t wParam, intptr_t lParam);
    /* modal box owned by the window; returns the button pressed (1 = OK) */
    int (*messageBox)(void *context, const char *text, const char *caption, uint32_t type);
} MvxWindow;

#define MVX_MB_OK      0x00000000u   /* message box type: one OK button */
#define MVX_IDOK       1             /* message box answer: OK */

/* ---- the file table ----------------------------------------------------- */

#define MVX_PATH_CAPACITY     260    /* path bytes in an entry, terminator included */
#define MVX_FILE_TABLE_SIZE   256    /* entries in a FileTable, indexed by BankCode */

enum MvxFileFormat {
    MVX_FORMAT_HEX          = 0,     /* Intel HEX text */
    MVX_FORMAT_BINARY       = 1,     /* raw binary */
    MVX_FORMAT_WHOLE_DEVICE = 2      /* whole-device binary */
};

typedef struct FileTableEntry {      /* 268 bytes */
    uint8_t inUse; uint8_t reserved[3]; int32_t format; char path[260];
} FileTableEntry;                    /* a FileTable is FileTableEntry[256] */

#ifdef __cplusplus
static_assert(sizeof(FileTableEntry) == 268, "FileTableEntry is 268 bytes");
static_assert(offsetof(FileTableEntry, inUse) == 0, "inUse at offset 0");
static_assert(offsetof(FileTableEntry, format) == 4, "format at offset 4");
static_assert(offsetof(FileTableEntry, path) == 8, "path at offset 8");
#else
_Static_assert(sizeof(FileTableEntry) == 268, "FileTableEntry is 268 bytes");
_Static_assert(offsetof(FileTableEntry, inUse) == 0, "inUse at offset 0");
_Static_assert(offsetof(FileTableEntry, format) == 4, "format at offset 4");
_Static_assert(offsetof(FileTableEntry, path) == 8, "path at offset 8");
#endif

/* ---- option records ----------------------------------------------------- */

typedef struct FlashProtectSettings { int32_t enable_protect, scalar_type, pin_type, value; } FlashProtectSettings;

typedef struct IspOptions {          /* the 28 fields, in order */
    int32_t checkVGAconn_delay, beforeshowCKSM_delay, enable_isprepeattest, isprepeat_counter,
            enable_sete2e3output, ffe2_value, ffe3_value, enable_read_ic_code,
            enable_show_isp_enableoption, enable_check_ic_code_before_isp, ic_code_check_value,
            ispEnable, enable_masserasebeforeauto4flash, enable_bankerasebeforeauto4flash,
            bankindex_erasebeforeauto4flash, norvane_usb_frequency, norvane_usb_ispspeed,
            other_usb_ispspeed, norvane_iic_ispspeed, enable_hdcp_key_fire,
            autoload_hdcp_key_file_method;
    const char *hdcp_key_file;                   /* HDCP key file path */
    int32_t hdcp_key_fire_check_method, enable_save_readed_hdcp_key;
    const char *saveread_hdcp_key_file_path;     /* folder for the read-back key */
    int32_t hdcp_key_file_kind, enable_setflashstatusafterisp, flashstatus_value;
} IspOptions;

/* ---- adapters and operations -------------------------------------------- */

typedef enum AdapterKind {
    MVX_ADAPTER_NORVANE_USB = 0,     /* "Norvane USB": USB bridge board or MVXUSBDLL */
    MVX_ADAPTER_FTDI_USB    = 1,     /* "FTDi USB": FTDI chip in MPSSE mode */
    MVX_ADAPTER_NORVANE_IIC = 2,     /* "Norvane IIC": parallel-port cable or MVXIICDLL */
    MVX_ADAPTER_CVT_IIC     = 3      /* "CVT IIC": parallel-port cable, second wiring */
} AdapterKind;

enum MvxOperation {
    MVX_OP_MCU_5310        = 0,      /* banks 0, 1 */
    MVX_OP_MCU_5312        = 1,      /* banks 0, 1, 2 */
    MVX_OP_SERIAL_FLASH    = 2,      /* banks 0..255, 64 KB each */
    MVX_OP_5310_1TO4       = 3,
    MVX_OP_5312_1TO4       = 4,
    MVX_OP_SERIAL_FLASH_1TO4 = 5
};

enum MvxFlashBrand {
    MVX_BRAND_PMC = 0, MVX_BRAND_WINBOND = 1, MVX_BRAND_MXIC = 2,
    MVX_BRAND_EON = 3, MVX_BRAND_SST = 4, MVX_BRAND_AMIC = 5,
    MVX_BRAND_UNKNOWN = 255
};

/* ---- result codes (one numbering for both exports and the adapters) ----- */

typedef enum MvxResult {
    MVX_OK                       = 0,   /* success */
    MVX_ERR_ADAPTER_KIND         = 1,   /* adapter kind outside 0..3 */
    MVX_ERR_OPERATION            = 2,   /* operation outside 0..5 */
    MVX_ERR_ERASE_ONLY_FLAG      = 3,   /* erase-only flag outside 0..1 */
    MVX_ERR_SLAVE_SELECTOR       = 4,   /* slave selector not accepted */
    MVX_ERR_FILE_FORMAT          = 5,   /* file format outside 0..2 */
    MVX_ERR_VERIFY_MODE          = 6,   /* verify mode outside 0..1 */
    MVX_ERR_ERASE_MODE           = 7,   /* erase mode outside 0..1 */
    MVX_ERR_FLASH_BRAND          = 8,   /* flash brand outside 0..5 */
    MVX_ERR_ERASE_LENGTH         = 9,   /* partial-erase length does not fit the image */
    MVX_ERR_NO_FILE_TABLE        = 10,  /* no file table or no entry */
    MVX_ERR_BANK                 = 11,  /* bank not valid for the operation or beyond the flash */
    MVX_ERR_BRIDGE_MISSING       = 12,  /* USB bridge device missing */
    MVX_ERR_ISP_MODE             = 13,  /* no ISP mode, line probe failed, or bridge silent */
    MVX_ERR_FILE                 = 14,  /* firmware file missing, unreadable or empty */
    MVX_ERR_HEX_RECORD           = 15,  /* malformed HEX record */
    MVX_ERR_NOT_BLANK            = 16,  /* a bank is not blank after its erase */
    MVX_ERR_NULL_BUFFER          = 17,  /* read into a null buffer */
    MVX_ERR_TIMEOUT              = 18,  /* polling limit reached, or no acknowledge */
    MVX_ERR_CRC_MISMATCH         = 20,  /* CRC mismatch, or HDCP key verification failed */
    MVX_ERR_CHECKSUM_MISMATCH    = 21,  /* checksum mismatch */
    MVX_ERR_LIBRARY_READ         = 24,  /* a library transport's read failed */
    MVX_ERR_LIBRARY_WRITE        = 25,  /* a library transport's write failed */
    MVX_ERR_WRITE_PROTECTED      = 26,  /* the flash is write-protected */
    MVX_ERR_EEPROM_NEEDS_PMC     = 27,  /* flash-to-EEPROM asked of a non-PMC flash */
    MVX_ERR_IC_CODE_MISMATCH     = 28,  /* IC code differs from the expected one */
    MVX_ERR_BUS_BUSY             = 29   /* the bus is in use by another run */
} MvxResult;

/* ---- the two exports ---------------------------------------------------- */

MVXISP_API int mvxISP(int adapterKind, int operation, int eraseOnly, int slaveSelector, int verifyByChecksum,
           int eraseMode, int eraseLength, int flashBrand, int reserved,
           const FileTableEntry *fileTable, int libraryMode, int idReadMode,
           const MvxWindow *ownerWindow, const FlashProtectSettings *protectSettings,
           int sectorEraseFlag, int sectorEraseBank, const IspOptions *options);

MVXISP_API int mvxGetFileInfo(const char *path, int format, int bank, int operation, int eraseMode,
           int eraseLength, int *dataLength, int *programLength, int *checksum, int *crc,
           const MvxWindow *ownerWindow, int sectorEraseFlag, int sectorEraseBank);

/* Signatures for callers that resolve the exports at run time. */
typedef int (*MvxIspFn)(int, int, int, int, int, int, int, int, int, const FileTableEntry *, int, int,
                        const MvxWindow *, const FlashProtectSettings *, int, int, const IspOptions *);
typedef int (*MvxGetFileInfoFn)(const char *, int, int, int, int, int, int *, int *, int *, int *,
                                const MvxWindow *, int, int);

#ifdef __cplusplus
}
#endif

#endif /* MVXISP_H */
