// Serial port services: the RS-232 operations the program uses, over Qt SerialPort.
#pragma once

#include <string>
#include <vector>

// Error codes of OpenComConfig and the other port calls.
enum ComError {
    kComUnknownSystemError = -1,
    kComInvalidPortNumber = -2,
    kComPortNotOpen = -3,
    kComUnknownIOError = -4,
    kComNoSerialPortFound = -6,
    kComCannotOpenPort = -7,
    kComInvalidParameter = -13,
    kComTimeout = -99,
};

// Event bits delivered to a receive callback.
enum ComEvent { LWRS_RXFLAG = 0x0002, LWRS_TXEMPTY = 0x0004, LWRS_RECEIVE = 0x8000 };

typedef void (*ComCallbackPtr)(int port, int events, void *data);

int OpenComConfig(int port, const char *deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);
// Why the last OpenComConfig that returned kComCannotOpenPort failed, in the operator's words
// with the fix: no such device (and the ports there are), permission denied (and the group that
// gives access), or in use (and by which program); "" after an open that did not fail so.
std::string lastOpenFailure();
int CloseCom(int port);
int SetComTime(int port, double timeoutSeconds);
int SetCTSMode(int port, int mode);
// Arms (callback given) or disarms (nullptr) the receive notification. The callback runs on the
// program's thread, only inside ProcessSystemEvents or the idle user-interface loop, never nested
// inside itself and never from inside another serial call.
int InstallComCallback(int port, int eventMask, int notifyCount, int eventCharacter,
                       ComCallbackPtr callback, void *callbackData);
// A wait loop that polls GetInQLen until `count` bytes are in the queue, with no receive callback
// armed, sleeps in ProcessSystemEvents until they are (or its time runs out) instead of waking
// for every byte. 0 when the loop is done.
int SetComWakeCount(int port, int count);
// A sensor answers no sooner than its request and its answer take on the wire. After ComWrt,
// while a receive callback or a wait loop (SetComWakeCount) waits for a known number of bytes,
// a port stops watching the line until shortly before those bytes and the written ones could
// have crossed it at the port's baud rate: the program's thread is not woken for every byte of
// the answer, and the event loop serves everything else meanwhile. On by default; off for a line
// that answers faster than its baud rate allows (an unpaced simulator), whose answers it would
// otherwise hold back to the wire's pace.
void setComWireWait(bool on);
int ComWrt(int port, const char *buffer, int count);
int ComRd(int port, char *buffer, int count);
int GetInQLen(int port);
int FlushInQ(int port);
int FlushOutQ(int port);

// A serial device the machine offers, with the port number OpenComConfig knows it by.
struct SerialPortEntry {
    int number;
    std::string device;
    std::string description;
};

// The ports in the order they are numbered: on Windows COMn is port n; elsewhere the devices
// present at the first call, USB adapters first, then the rest by name.
std::vector<SerialPortEntry> listSerialPorts();
// Puts an explicit device (a pseudo-terminal, a device the enumeration does not show) on a port
// number, shown in the port list with its description; an empty path removes the binding.
void bindPortDevice(int port, const std::string &devicePath,
                    const std::string &description = "bound device");
// The device a port number stands for now, or "" when there is none.
std::string portDevicePath(int port);

// The latency timer of the USB serial adapter behind a device, in ms, as the driver reports it
// (sysfs latency_timer, FTDI adapters); -1 where there is none: a built-in UART, a
// pseudo-terminal, an adapter without such a timer, a system without sysfs.
int portLatencyTimer(const std::string &device);
// Whether the ports opened from now on ask a USB serial adapter's driver to pass received bytes on
// at once (Linux: ASYNC_LOW_LATENCY, which sets an FTDI adapter's latency timer to 1 ms) instead
// of holding them for up to its latency timer; on by default. A driver that refuses is no error.
void setLowLatencyRequested(bool on);
bool lowLatencyRequested();
// The latency timer, in ms, that the adapter behind an open port reported once it was opened (and
// asked for low latency); -1 when the port is not open or has no such timer.
int comLatencyTimer(int port);

// True while the port's device has vanished (adapter pulled, pseudo-terminal closed).
bool comDeviceGone(int port);
// True when the device a port number stands for is present on the machine now.
bool comDevicePresent(int port);

// Sees every block written to (sent) or read from a port, with the byte count asked for; with no
// tap set (the default) the port calls cost one pointer check more.
typedef void (*ComTapPtr)(int port, bool sent, const char *bytes, int count, int requested);
void setComTap(ComTapPtr tap);
