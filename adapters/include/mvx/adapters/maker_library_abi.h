/*
 * maker_library_abi.h - the calls of the two maker adapter libraries, as the
 * engine loads them from the adapter-library folder (MVXUSBDLL.so and
 * MVXIICDLL.so).  A library is usable only when all six of its exports
 * resolve.  Every answer is an int: 0 means failure, anything else success.
 *
 * MVXUSBDLL (the USB adapter):
 *   _Initialize()                      called once right after loading
 *   _DebugRead(address, subAddress, buffer, count, a, b, c)
 *   _DebugWrite(address, subAddress, data, count, a, b, c)
 *   _SetUSBPolling(4, 0)
 *   _SetUSBSpeedMode(2 | 4 | 1, 0)
 *   _SetUSBDelay(delay byte, 0)
 *
 * MVXIICDLL (the I2C adapter):
 *   _Initialize()                      called once right after loading
 *   _DebugRead(address, subAddress, buffer, count, a, b)
 *   _DebugWrite(address, subAddress, data, count, a, b)
 *   _SetPolling(4)
 *   _SetWorkDelay(work-delay byte)
 *   _TargetBoardTest()                 0 = no target board on the cable
 *
 * address is the 8-bit bus address in write form, subAddress the register;
 * count bytes go to or come from buffer.  a, b (and c) are passed through
 * from the engine's access unchanged: the first is the count for
 * single-register accesses, the second 1 for the address-register bursts.
 * Their meaning belongs to the library.
 */
#ifndef MVX_MAKER_LIBRARY_ABI_H
#define MVX_MAKER_LIBRARY_ABI_H

#ifdef __cplusplus
extern "C" {
#endif

/* File names inside the adapter-library folder (without ".so"). */
#define MVX_MAKER_USB_LIBRARY "MVXUSBDLL"
#define MVX_MAKER_IIC_LIBRARY "MVXIICDLL"

/* Export names. */
#define MVX_EXPORT_INITIALIZE        "_Initialize"
#define MVX_EXPORT_DEBUG_READ        "_DebugRead"
#define MVX_EXPORT_DEBUG_WRITE       "_DebugWrite"
#define MVX_EXPORT_SET_USB_POLLING   "_SetUSBPolling"
#define MVX_EXPORT_SET_USB_SPEED     "_SetUSBSpeedMode"
#define MVX_EXPORT_SET_USB_DELAY     "_SetUSBDelay"
#define MVX_EXPORT_SET_POLLING       "_SetPolling"
#define MVX_EXPORT_SET_WORK_DELAY    "_SetWorkDelay"
#define MVX_EXPORT_TARGET_BOARD_TEST "_TargetBoardTest"

/* Both libraries. */
typedef int (*MvxMakerInitializeFn)(void);

/* MVXUSBDLL */
typedef int (*MvxUsbDebugReadFn)(int address, int subAddress, unsigned char *buffer, int count,
                                 int a, int b, int c);
typedef int (*MvxUsbDebugWriteFn)(int address, int subAddress, const unsigned char *data, int count,
                                  int a, int b, int c);
typedef int (*MvxUsbSetPollingFn)(int polling, int b);
typedef int (*MvxUsbSetSpeedModeFn)(int mode, int b);
typedef int (*MvxUsbSetDelayFn)(int delay, int b);

/* MVXIICDLL */
typedef int (*MvxIicDebugReadFn)(int address, int subAddress, unsigned char *buffer, int count,
                                 int a, int b);
typedef int (*MvxIicDebugWriteFn)(int address, int subAddress, const unsigned char *data, int count,
                                  int a, int b);
typedef int (*MvxIicSetPollingFn)(int polling);
typedef int (*MvxIicSetWorkDelayFn)(int delay);
typedef int (*MvxIicTargetBoardTestFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* MVX_MAKER_LIBRARY_ABI_H */
