/*
 * A stand-in for the maker's adapter libraries, built as MVXUSBDLL.so and as
 * MVXIICDLL.so (FAKE_USB_LIBRARY / FAKE_IIC_LIBRARY).  It keeps a register
 * file of 256 bytes, records every call with its arguments, and offers the
 * tests a few controls of its own (fake_*).  FAKE_LEAVE_OUT_LAST builds it
 * without its last export, to stand for an incomplete library.
 */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "mvx/adapters/maker_library_abi.h"

/* ---- controls for the tests ---- */

const char *fake_calls(void);
void fake_reset(void);
void fake_set_answer(int answer);
void fake_set_target_answer(int answer);
unsigned char fake_register(int index);

static char calls[16384];
static size_t callsUsed;
static unsigned char registers[256];
static int transferAnswer = 1;
static int targetAnswer = 1;

static void record(const char *format, ...)
{
    va_list args;
    int written;
    if (callsUsed >= sizeof calls - 1)
        return;
    va_start(args, format);
    written = vsnprintf(calls + callsUsed, sizeof calls - callsUsed, format, args);
    va_end(args);
    if (written > 0)
        callsUsed += (size_t)written;
    if (callsUsed > sizeof calls - 1)
        callsUsed = sizeof calls - 1;
}

const char *fake_calls(void) { return calls; }

void fake_reset(void)
{
    callsUsed = 0;
    calls[0] = '\0';
    memset(registers, 0, sizeof registers);
    transferAnswer = 1;
    targetAnswer = 1;
}

void fake_set_answer(int answer) { transferAnswer = answer; }
void fake_set_target_answer(int answer) { targetAnswer = answer; }
unsigned char fake_register(int index) { return registers[index & 0xFF]; }

static int readRegisters(int subAddress, unsigned char *buffer, int count)
{
    int i;
    if (!transferAnswer)
        return 0;
    for (i = 0; i < count; ++i)
        buffer[i] = registers[(subAddress + i) & 0xFF];
    return 1;
}

static int writeRegisters(int subAddress, const unsigned char *data, int count)
{
    int i;
    if (!transferAnswer)
        return 0;
    for (i = 0; i < count; ++i)
        registers[(subAddress + i) & 0xFF] = data[i];
    return 1;
}

/* ---- the library's exports ---- */

int _Initialize(void);
int _Initialize(void)
{
    record("_Initialize();");
    return 1;
}
_Static_assert(_Generic(&_Initialize, MvxMakerInitializeFn: 1, default: 0), "_Initialize signature");

#if defined(FAKE_USB_LIBRARY)

int _DebugRead(int address, int subAddress, unsigned char *buffer, int count, int a, int b, int c);
int _DebugWrite(int address, int subAddress, const unsigned char *data, int count, int a, int b, int c);
int _SetUSBPolling(int polling, int b);
int _SetUSBSpeedMode(int mode, int b);

int _DebugRead(int address, int subAddress, unsigned char *buffer, int count, int a, int b, int c)
{
    record("_DebugRead(%d,%d,%d,%d,%d,%d);", address, subAddress, count, a, b, c);
    return readRegisters(subAddress, buffer, count);
}

int _DebugWrite(int address, int subAddress, const unsigned char *data, int count, int a, int b, int c)
{
    record("_DebugWrite(%d,%d,%d,%d,%d,%d);", address, subAddress, count, a, b, c);
    return writeRegisters(subAddress, data, count);
}

int _SetUSBPolling(int polling, int b)
{
    record("_SetUSBPolling(%d,%d);", polling, b);
    return 1;
}

int _SetUSBSpeedMode(int mode, int b)
{
    record("_SetUSBSpeedMode(%d,%d);", mode, b);
    return 1;
}

_Static_assert(_Generic(&_DebugRead, MvxUsbDebugReadFn: 1, default: 0), "_DebugRead signature");
_Static_assert(_Generic(&_DebugWrite, MvxUsbDebugWriteFn: 1, default: 0), "_DebugWrite signature");
_Static_assert(_Generic(&_SetUSBPolling, MvxUsbSetPollingFn: 1, default: 0), "_SetUSBPolling signature");
_Static_assert(_Generic(&_SetUSBSpeedMode, MvxUsbSetSpeedModeFn: 1, default: 0), "_SetUSBSpeedMode signature");

#if !defined(FAKE_LEAVE_OUT_LAST)
int _SetUSBDelay(int delay, int b);
int _SetUSBDelay(int delay, int b)
{
    record("_SetUSBDelay(%d,%d);", delay, b);
    return 1;
}
_Static_assert(_Generic(&_SetUSBDelay, MvxUsbSetDelayFn: 1, default: 0), "_SetUSBDelay signature");
#endif

#elif defined(FAKE_IIC_LIBRARY)

int _DebugRead(int address, int subAddress, unsigned char *buffer, int count, int a, int b);
int _DebugWrite(int address, int subAddress, const unsigned char *data, int count, int a, int b);
int _SetPolling(int polling);
int _SetWorkDelay(int delay);

int _DebugRead(int address, int subAddress, unsigned char *buffer, int count, int a, int b)
{
    record("_DebugRead(%d,%d,%d,%d,%d);", address, subAddress, count, a, b);
    return readRegisters(subAddress, buffer, count);
}

int _DebugWrite(int address, int subAddress, const unsigned char *data, int count, int a, int b)
{
    record("_DebugWrite(%d,%d,%d,%d,%d);", address, subAddress, count, a, b);
    return writeRegisters(subAddress, data, count);
}

int _SetPolling(int polling)
{
    record("_SetPolling(%d);", polling);
    return 1;
}

int _SetWorkDelay(int delay)
{
    record("_SetWorkDelay(%d);", delay);
    return 1;
}

_Static_assert(_Generic(&_DebugRead, MvxIicDebugReadFn: 1, default: 0), "_DebugRead signature");
_Static_assert(_Generic(&_DebugWrite, MvxIicDebugWriteFn: 1, default: 0), "_DebugWrite signature");
_Static_assert(_Generic(&_SetPolling, MvxIicSetPollingFn: 1, default: 0), "_SetPolling signature");
_Static_assert(_Generic(&_SetWorkDelay, MvxIicSetWorkDelayFn: 1, default: 0), "_SetWorkDelay signature");

#if !defined(FAKE_LEAVE_OUT_LAST)
int _TargetBoardTest(void);
int _TargetBoardTest(void)
{
    record("_TargetBoardTest();");
    return targetAnswer;
}
_Static_assert(_Generic(&_TargetBoardTest, MvxIicTargetBoardTestFn: 1, default: 0), "_TargetBoardTest signature");
#endif

#else
#error "build the fake as FAKE_USB_LIBRARY or FAKE_IIC_LIBRARY"
#endif
